#pragma once
#include <gtest/gtest.h>
#include <memory>
#include <string>
#include <vector>

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QSettings>
#include <QString>
#include <QTemporaryDir>

#include "app/UiServices.h"

// Shared by the shell's tests: a QApplication on the offscreen platform, private XDG
// directories per test, a recorder of message boxes and plug-in sets made of fixtures.

namespace apptest {

inline QApplication& Application()
{
    static int argc = 1;
    static char name[] = "app_tests";
    static char* argv[] = {name, nullptr};
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static QApplication* app = new QApplication(argc, argv);
    return *app;
}

struct Message {
    QString text;
    QString caption;
};

// Each test gets its own config and runtime directories and records message boxes.
class ShellTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        Application();
        ASSERT_TRUE(m_root.isValid());
        QDir(m_root.path()).mkpath(QStringLiteral("config"));
        QDir(m_root.path()).mkpath(QStringLiteral("run"));
        QFile::setPermissions(RuntimeDir(), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        qputenv("XDG_CONFIG_HOME", ConfigDir().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", RuntimeDir().toLocal8Bit());
        m_previousBox =
            polyvant::SetMessageBoxFunction([this](const QString& text, const QString& caption) {
                messages.push_back({text, caption});
            });
    }
    void TearDown() override { polyvant::SetMessageBoxFunction(m_previousBox); }

    QString Root() const { return m_root.path(); }
    QString ConfigDir() const { return m_root.path() + QStringLiteral("/config"); }
    QString RuntimeDir() const { return m_root.path() + QStringLiteral("/run"); }
    QString SettingsFile(const QString& app = QStringLiteral("polyvant")) const
    {
        return ConfigDir() + QStringLiteral("/Brellow Soft/") + app + QStringLiteral(".conf");
    }

    // A directory holding links to the named fixture plug-ins ("fixture_import", ...).
    QString PluginSet(const QString& name, const std::vector<const char*>& fixtures) const
    {
        const QString dir = m_root.path() + QStringLiteral("/plugins-") + name;
        QDir().mkpath(dir);
        for (const char* fixture : fixtures)
            QFile::link(QStringLiteral(POLYVANT_FIXTURE_DIR "/") + QLatin1String(fixture) +
                            QStringLiteral(".so"),
                        dir + QLatin1Char('/') + QLatin1String(fixture) + QStringLiteral(".so"));
        return dir + QLatin1Char('/');
    }

    // Writes a settings file as a user could have, one "key=value" per entry of group.
    void WriteSettings(const std::vector<std::pair<QString, QString>>& values,
                       const QString& app = QStringLiteral("polyvant")) const
    {
        QSettings settings(SettingsFile(app), QSettings::IniFormat);
        for (const auto& [key, value] : values)
            settings.setValue(key, value);
        settings.sync();
    }

    QString WriteFile(const QString& name, const QByteArray& bytes = "model\n") const
    {
        const QString path = m_root.path() + QLatin1Char('/') + name;
        QDir().mkpath(path.section(QLatin1Char('/'), 0, -2));
        QFile file(path);
        EXPECT_TRUE(file.open(QIODevice::WriteOnly));
        file.write(bytes);
        return path;
    }

    bool Shown(const char* text, const char* caption = "Error") const
    {
        for (const Message& m : messages)
            if (m.text == QLatin1String(text) && m.caption == QLatin1String(caption))
                return true;
        return false;
    }

    std::vector<Message> messages;

private:
    QTemporaryDir m_root;
    polyvant::MessageBoxFunction m_previousBox;
};

} // namespace apptest
