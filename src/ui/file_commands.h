#pragma once
#include <functional>

#include "ui/browser_views.h"
#include "ui/desktop.h"
#include "ui/file_command_handler.h"
#include "ui/file_operations.h"
#include "session/phone_session.h"
#include "ui/seem_transfers.h"

namespace telvane {

// The window's file and seem commands over one phone session and one desktop, with the one
// dialog setup the file and seem operations share.
class FileCommands final : public FileCommandHandler {
public:
    FileCommands(PhoneSession& session, BrowserViews& views, Desktop desktop, std::function<int()> autoUpdate)
        : files_(session, views, desktop, dialog_, std::move(autoUpdate)), seems_(session, desktop, dialog_) {}

    void uploadFiles() override { files_.uploadFiles(); }
    void downloadFiles() override { files_.downloadFiles(); }
    void deleteFiles() override { files_.deleteFiles(); }
    void changeAttributes() override { files_.changeAttributes(); }
    void downloadSeems() override { seems_.downloadSeems(); }
    void uploadSeem() override { seems_.uploadSeem(); }

    const FileDialogSetup& dialogSetup() const { return dialog_; }

private:
    FileDialogSetup dialog_;
    FileOperations files_;
    SeemTransfers seems_;
};

} // namespace telvane
