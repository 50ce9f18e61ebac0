#pragma once

class QToolBar;
class QWidget;

namespace hollin {

class DataRoot;

// "添付フォルダ" on the inbox's toolbar (objectName "OpenAttachmentFolder"): opens
// the folder that received attachments and quick saves land in, which lies out
// of sight below ~/.local/share, in the desktop's file manager.
void addAttachmentFolderAction(QToolBar *toolBar, const DataRoot &root, QWidget *window);

} // namespace hollin
