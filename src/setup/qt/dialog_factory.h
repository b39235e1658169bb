// The dialogs the main window opens, created and run through replaceable
// functions so that GUI tests can drive them.
#pragma once

#include <functional>
#include <memory>

#include "setup/qt/dialog_support.h"
#include "setup/qt/edit_resource.h"

class QWidget;

namespace tarvik {

struct TDialogFactory {
    // Creates the resource wizard; null: the program's own.
    std::function<std::unique_ptr<TEditResource>(QWidget* owner, TWizardEnvironment env)>
        EditResource;
    // Shows a modal dialog and returns its modal result.
    TDialogExec Exec = ExecModal;

    std::unique_ptr<TEditResource> MakeEditResource(QWidget* owner, TWizardEnvironment env) const {
        if (EditResource) return EditResource(owner, std::move(env));
        return std::make_unique<TEditResource>(owner, std::move(env));
    }
};

}  // namespace tarvik
