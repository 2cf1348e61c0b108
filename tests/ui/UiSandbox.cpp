#include "UiSandbox.h"

#include "core/Journal/Journal.h"
#include "platform/Environment.h"
#include "ui/Common/Desktop.h"

#include <QTest>

namespace Plumeria::Test {

TUiSandbox::TUiSandbox()
    : FConfigHome("XDG_CONFIG_HOME", PathToUtf8(FSession.Path() / "config")),
      FRuntimeDir("XDG_RUNTIME_DIR", PathToUtf8(FSession.Path() / "run"))
{
    std::filesystem::create_directories(FSession.Path() / "config");
    std::filesystem::create_directories(FSession.Path() / "run");
    SetDefaultHandlerForTests([this](const QUrl& Url) {
        Opened.push_back(Url);
        return true;
    });
}

TUiSandbox::~TUiSandbox()
{
    SetDefaultHandlerForTests({});
}

TMainOptions TUiSandbox::Options(bool TrayAvailable)
{
    TMainOptions Options;
    Options.TrayAvailable = TrayAvailable;
    Options.CheckForUpdate = [this](bool AutoUpdate) {
        UpdateChecks.push_back(AutoUpdate);
        StartedBeforeCheck.push_back(JournalText().find("| INFO | started 1.0.3") !=
                                     std::string::npos);
        return UpdateTookOver;
    };
    return Options;
}

std::filesystem::path TUiSandbox::Folder(const std::string& Name) const
{
    const auto Path = FSession.Path() / PathFromUtf8(Name);
    std::filesystem::create_directories(Path);
    return Path;
}

void TypeText(QLineEdit* Edit, const QString& Text)
{
    Edit->clear();
    bool Ascii = true;
    for (const QChar C : Text)
        Ascii = Ascii && C.unicode() < 0x80;
    if (Ascii)
        QTest::keyClicks(Edit, Text);
    else
        Edit->insert(Text);
}

std::string JournalText()
{
    return ReadFileBytes(LogFilePath());
}

TScaleConfig MakeScale(const char* Name, const char* Host, int Port, TScaleKind Kind,
                       const char* Model, const char* Mask)
{
    TScaleConfig Config;
    Config.Enabled = true;
    Config.Name = Name;
    Config.Host = Host;
    Config.Port = Port;
    Config.Kind = Kind;
    Config.Model = Model;
    Config.FileMask = Mask;
    return Config;
}

} // namespace Plumeria::Test
