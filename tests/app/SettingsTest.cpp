#include "app/Settings.h"

#include <csignal>

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QSettings>
#include <QThread>

#include "AppTestSupport.h"
#include "app/SettingsStore.h"

using polyvant::Settings;
using polyvant::SettingsStore;

namespace {

class SettingsTest : public apptest::ShellTest {
protected:
    std::unique_ptr<Settings> Load()
    {
        return std::make_unique<Settings>("polyvant", "/opt/pv/plugin/");
    }

    QSettings Stored() const { return QSettings(SettingsFile(), QSettings::IniFormat); }
};

TEST_F(SettingsTest, FirstRunWritesAllFourteenValuesAndTheEightExtensions)
{
    {
        auto settings = Load();
    }
    QSettings stored = Stored();
    ASSERT_EQ(stored.status(), QSettings::NoError);
    stored.beginGroup(QStringLiteral("Settings"));
    const QStringList expected = {
        "plugin_path", "clear_flag",    "last_import_class", "last_export_class", "Build",
        "view_title",  "vo_top",        "vo_top_fast",       "vo_side",           "vo_side_fast",
        "vo_front",    "vo_front_fast", "vo_user",           "vo_user_fast"};
    EXPECT_EQ(stored.childKeys().size(), expected.size());
    for (const QString& key : expected)
        EXPECT_TRUE(stored.contains(key)) << key.toStdString();
    EXPECT_EQ(stored.value("Build").toString(), "194");
    EXPECT_EQ(stored.value("plugin_path").toString(), "/opt/pv/plugin/");
    EXPECT_EQ(stored.value("vo_user").toString(), "3");
    stored.beginGroup(QStringLiteral("extension"));
    EXPECT_EQ(stored.childKeys().size(), 8);
    EXPECT_EQ(stored.value(".obj").toString(), "WaveFront (*.obj)");
    EXPECT_EQ(stored.value(".3ds").toString(), "3D Studio (*.3ds, *.prj)");
}

TEST_F(SettingsTest, EveryValueRoundTripsThroughTheFile)
{
    {
        auto settings = Load();
        settings->plugin_path = std::string(3000, 'p') + "/"; // longer than any old buffer
        settings->clear_flag = 0;
        settings->last_import_class = "3D Studio (*.3ds, *.prj)";
        settings->last_export_class = "@Variant(odd), \"quoted\" ; text";
        settings->view_title = 0;
        settings->vo_top = 5;
        settings->vo_user_fast = 4;
    }
    auto again = Load();
    EXPECT_EQ(again->plugin_path, std::string(3000, 'p') + "/");
    EXPECT_EQ(again->clear_flag, 0);
    EXPECT_EQ(again->last_import_class, "3D Studio (*.3ds, *.prj)");
    EXPECT_EQ(again->last_export_class, "@Variant(odd), \"quoted\" ; text");
    EXPECT_EQ(again->view_title, 0);
    EXPECT_EQ(again->vo_top, 5);
    EXPECT_EQ(again->vo_user_fast, 4);
    EXPECT_EQ(again->ExtensionCount(), 8);
}

TEST_F(SettingsTest, DeletedValueReturnsToItsDefaultOnly)
{
    {
        auto settings = Load();
        settings->vo_side = 4;
        settings->clear_flag = 0;
    }
    {
        QSettings stored = Stored();
        stored.remove("Settings/clear_flag");
    }
    auto again = Load();
    EXPECT_EQ(again->clear_flag, 1);
    EXPECT_EQ(again->vo_side, 4);
}

TEST_F(SettingsTest, DeletedExtensionSectionRestoresTheDefaultTable)
{
    WriteSettings({{"Settings/extension/.xyz", "Other (*.xyz)"}});
    ASSERT_EQ(Load()->ExtensionCount(), 1); // saves it back
    {
        QSettings stored = Stored();
        stored.remove("Settings/extension");
    }
    auto again = Load();
    ASSERT_EQ(again->ExtensionCount(), 8);
    EXPECT_EQ(again->extensions[0], ".3ds");
}

TEST_F(SettingsTest, AddedExtensionEntryJoinsTheTable)
{
    {
        auto settings = Load();
    }
    {
        QSettings stored = Stored();
        stored.setValue("Settings/extension/.wav", "WaveFront (*.obj)");
    }
    auto again = Load();
    ASSERT_EQ(again->ExtensionCount(), 9);
    bool found = false;
    for (int i = 0; i < again->ExtensionCount(); ++i)
        found |=
            again->extensions[i] == ".wav" && again->extensionClasses[i] == "WaveFront (*.obj)";
    EXPECT_TRUE(found);
}

TEST_F(SettingsTest, HandEditedValuesWithCommasAndLeadingDotsAreReadAsWritten)
{
    QDir().mkpath(QFileInfo(SettingsFile()).absolutePath());
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write("[Settings]\nextension\\.3DS=3D Studio (*.3ds, *.prj)\nlast_import_class=A, B\n");
    file.close();
    auto settings = Load();
    ASSERT_EQ(settings->ExtensionCount(), 1);
    EXPECT_EQ(settings->extensions[0], ".3DS");
    EXPECT_EQ(settings->extensionClasses[0], "3D Studio (*.3ds, *.prj)");
    EXPECT_EQ(settings->last_import_class, "A, B");
}

TEST(SettingsNumbers, ParseAsLeadingDigitsAndClampToThirtyTwoBits)
{
    const std::pair<const char*, long> cases[] = {
        {"12", 12},
        {"  7", 7},
        {"-3", -3},
        {"+4", 4},
        {"12abc", 12},
        {"abc", 0},
        {"", 0},
        {"1.9", 1},
        {"99999999999", 2147483647L},
        {"-99999999999", -2147483648L},
    };
    for (const auto& [text, value] : cases)
        EXPECT_EQ(SettingsStore::ParseLong(text), value) << text;
}

struct DamagedCase {
    const char* name;
    QByteArray content;
};

class DamagedSettings : public SettingsTest, public ::testing::WithParamInterface<DamagedCase> {};

TEST_P(DamagedSettings, NeverStopLoadingAndAreWrittenSoundAgain)
{
    QDir().mkpath(QFileInfo(SettingsFile()).absolutePath());
    QFile file(SettingsFile());
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(GetParam().content);
    file.close();
    {
        auto settings = Load();
        for (int mode : {settings->vo_top, settings->vo_top_fast, settings->vo_side,
                         settings->vo_side_fast, settings->vo_front, settings->vo_front_fast,
                         settings->vo_user, settings->vo_user_fast})
            EXPECT_TRUE(mode >= 0 && mode <= 5) << mode;
        for (int i = 0; i < settings->ExtensionCount(); ++i)
            EXPECT_FALSE(settings->extensions[i].empty());
    }
    QSettings stored = Stored();
    EXPECT_EQ(stored.status(), QSettings::NoError);
    EXPECT_EQ(stored.value("Settings/Build").toString(), "194");
}

QByteArray Junk(int size)
{
    QByteArray bytes(size, '\0');
    unsigned x = 12345;
    for (char& c : bytes) {
        x = x * 1103515245u + 12345u;
        c = char(x >> 16);
    }
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, DamagedSettings,
    ::testing::Values(
        DamagedCase{"NonNumeric", "[Settings]\nclear_flag=yes\nvo_top=abc\nview_title=\n"},
        DamagedCase{"ModesOutOfRange",
                    "[Settings]\nvo_top=-1\nvo_side=6\nvo_front=2147483648\nvo_user=99999999999\n"},
        DamagedCase{"EmptyClassNames",
                    "[Settings]\nlast_import_class=\nextension\\.obj=\nextension\\.3ds=\n"},
        DamagedCase{"VariantValues", "[Settings]\nvo_top=@Variant(\\0\\0\\0\\x7f)\n"
                                     "extension\\.obj=@Rect(1 2 3 4)\n"},
        DamagedCase{"BinaryJunk", Junk(64 * 1024)},
        DamagedCase{"Huge", QByteArray("[Settings]\nvo_top=2\n") + QByteArray(2 << 20, 'x')}),
    [](const auto& p) { return std::string(p.param.name); });

TEST_F(SettingsTest, HugeFileIsMovedAsideAndTheDefaultsUsed)
{
    WriteSettings({{"Settings/vo_top", "2"}});
    {
        QFile file(SettingsFile());
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write(QByteArray(SettingsStore::kMaxSettingsFileSize, '#'));
    }
    auto settings = Load();
    EXPECT_EQ(settings->vo_top, 1);
    EXPECT_FALSE(settings->LoadNotice().empty());
    const QStringList aside =
        QDir(QFileInfo(SettingsFile()).absolutePath()).entryList({"polyvant.conf.corrupt-*"});
    EXPECT_EQ(aside.size(), 1);
}

TEST_F(SettingsTest, DirectoryOrSymlinkLoopInPlaceOfTheFileDoesNotStopStartUp)
{
    QDir().mkpath(SettingsFile());
    {
        auto settings = Load();
        EXPECT_FALSE(settings->LoadNotice().empty());
    }
    EXPECT_TRUE(QFileInfo(SettingsFile()).isFile());

    const QString loop = SettingsFile(QStringLiteral("looped"));
    QFile::link(loop, loop);
    {
        Settings settings("looped", "/p/");
    }
    EXPECT_TRUE(QFileInfo(loop).isFile());
}

TEST_F(SettingsTest, SaveKeepsTheLastGoodFileAsBackup)
{
    {
        auto settings = Load();
        settings->vo_top = 2;
    }
    {
        auto settings = Load();
        settings->vo_top = 4;
    }
    QSettings backup(SettingsFile() + ".bak", QSettings::IniFormat);
    EXPECT_EQ(backup.value("Settings/vo_top").toString(), "2");
    EXPECT_EQ(Stored().value("Settings/vo_top").toString(), "4");
}

TEST_F(SettingsTest, ValuesBeyondTheTableStayInTheFile)
{
    WriteSettings({{"Settings/extension/.old", "Gone (*.old)"}});
    {
        auto settings = Load();
        settings->SetDefaultExtensions();
    }
    EXPECT_EQ(Stored().value("Settings/extension/.old").toString(), "Gone (*.old)");
}

// The save helper runs the real save in a loop; kill -9 at random moments must leave
// either the old or the new file, never a damaged or mixed one.
TEST_F(SettingsTest, KillDuringSavesLeavesOldOrNewFileNeverAMixture)
{
    const int trials = qEnvironmentVariableIntValue("POLYVANT_KILL_TRIALS") > 0
                           ? qEnvironmentVariableIntValue("POLYVANT_KILL_TRIALS")
                           : 40;
    std::srand(4242);
    for (int trial = 0; trial < trials; ++trial) {
        QProcess helper;
        helper.start(QStringLiteral(POLYVANT_SAVE_HELPER), {QStringLiteral("loop")});
        ASSERT_TRUE(helper.waitForStarted());
        helper.waitForReadyRead(5000); // the first save has begun
        QThread::msleep(10 + std::rand() % 90);
        ::kill(pid_t(helper.processId()), SIGKILL);
        helper.waitForFinished();
        if (!QFileInfo::exists(SettingsFile()))
            continue;
        QSettings stored = Stored();
        ASSERT_EQ(stored.status(), QSettings::NoError) << "trial " << trial;
        stored.beginGroup("Settings/extension");
        const QStringList keys = stored.childKeys();
        ASSERT_FALSE(keys.isEmpty()) << "trial " << trial;
        const QString generation = stored.value(keys.front()).toString();
        for (const QString& key : keys)
            ASSERT_EQ(stored.value(key).toString(), generation) << "trial " << trial;
        stored.endGroup();
        EXPECT_EQ(stored.value("Settings/Build").toString(), "194");
    }
}

TEST_F(SettingsTest, AnAbandonedEmptyLockDoesNotHoldUpTheNextSave)
{
    QDir().mkpath(QFileInfo(SettingsFile()).absolutePath());
    QFile lock(SettingsFile() + ".lock");
    ASSERT_TRUE(lock.open(QIODevice::WriteOnly));
    lock.close();
    QProcess helper;
    helper.start(QStringLiteral(POLYVANT_SAVE_HELPER), {QStringLiteral("once")});
    // QSettings alone waits out a 30 s stale time here.
    const bool finished = helper.waitForFinished(15000);
    if (!finished)
        helper.kill();
    ASSERT_TRUE(finished) << "the save waited for the abandoned lock";
    EXPECT_EQ(helper.exitCode(), 0);
    EXPECT_EQ(Stored().value("Settings/Build").toString(), "194");
}

} // namespace
