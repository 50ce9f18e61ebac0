#pragma once

// What a window test starts from: a fresh temporary data root with its
// folders, the program's state on it, the real window owner, and scripted
// prompts. Header-only: window tests link hollin_appwin themselves.

#include "Controls.h"
#include "app/AppWindows.h"
#include "storage/AppState.h"
#include "winutil/Prompt.h"

#include <QCoreApplication>
#include <QEvent>
#include <QTemporaryDir>
#include <memory>

namespace hollin {

class FreshProgram {
public:
    FreshProgram()
    {
        m_state.root = DataRoot(m_dir.path());
        m_ready = m_dir.isValid() && m_state.root.ensureTree();
        m_windows = std::make_unique<AppWindows>(m_state);
        Prompt::beginScript();
        Prompt::clearShown();
    }
    ~FreshProgram()
    {
        m_windows.reset();
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        Prompt::endScript();
    }
    FreshProgram(const FreshProgram &) = delete;
    FreshProgram &operator=(const FreshProgram &) = delete;

    bool isReady() const { return m_ready; }
    QTemporaryDir &dir() { return m_dir; }
    AppState &state() { return m_state; }
    AppWindows &windows() { return *m_windows; }

private:
    QTemporaryDir m_dir;
    AppState m_state;
    std::unique_ptr<AppWindows> m_windows;
    bool m_ready = false;
};

} // namespace hollin
