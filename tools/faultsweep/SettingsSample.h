#pragma once

#include "storage/DataRoot.h"
#include "storage/Error.h"

#include <QStringList>

namespace hollin {

// The settings a sweep writes and reads back: hlmail.ini, the account in
// iniIdPass.ini and the keep-mail keys of ini.ini, all values made from one
// number, plus a key of ini.ini that no write touches and that must survive.
namespace settingssample {

// Writes the values of tag, each file the way the program writes it.
bool write(const DataRoot &root, int tag, Error *err);
// The untouched key, written once before the sweep.
bool writeUntouchedKey(const DataRoot &root, Error *err);
// What reads back other than tag wrote (empty when all is as written).
QStringList differences(const DataRoot &root, int tag);

} // namespace settingssample
} // namespace hollin
