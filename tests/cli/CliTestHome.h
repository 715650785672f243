#pragma once

#include "i18n/CTranslation.h"
#include "storage/PowerClass.h"
#include "support/TempHome.h"

#include <string>

// What every test of the runner as a process starts from: a temporary home with
// the program's settings resolved and its texts loaded, a source and a target
// folder, and the path of a project file in the home.
struct CliTestHome {
    CliTestHome() : settings(BinFolder()) {
        settings.ResolveSettingsFile();
        texts.Load();
    }

    TempHome home;
    TempFolder source;
    TempFolder target;
    PowerClass settings;
    CTranslation texts{BinFolder()};
    std::string projectPath = home.path() + "/project.tarn";
};
