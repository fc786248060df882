#include "model/config_file.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include <vector>

using namespace tk7v;

TEST(ConfigFile, OnlyExactly512BytesLoadAndOnlyTheParameterStretchIsTaken) {
    for (std::size_t size : {0u, 1u, 238u, 511u, 513u, 1024u}) {
        ParameterImage img;
        img.fill(0x5A);
        std::vector<std::uint8_t> contents(size, 0x11);
        EXPECT_FALSE(TakeConfigFile(contents, img)) << size;
        EXPECT_EQ(img[0], 0x5A);
    }
    ParameterImage img;
    img.fill(0x5A);
    std::vector<std::uint8_t> contents(512, 0x00);
    std::fill(contents.begin() + 238, contents.end(), 0x33);
    ASSERT_TRUE(TakeConfigFile(contents, img));
    EXPECT_EQ(img[0], 0x00);
    EXPECT_EQ(img[237], 0x00);
    EXPECT_EQ(img[238], 0x5A);
    EXPECT_EQ(img[511], 0x5A);
}

TEST(ConfigFile, BackupAndPictureNames) {
    EXPECT_EQ(BackupPathFor("/a/settings.cfg"), "/a/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a/settings"), "/a/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a.b/settings"), "/a.b/settings.BAK");
    EXPECT_EQ(BackupPathFor("/a/x.tar.cfg"), "/a/x.tar.BAK");
#ifndef _WIN32
    // Here a backslash is part of the name, not a folder separator.
    EXPECT_EQ(BackupPathFor("/d/a.b\\c"), "/d/a.BAK");
    EXPECT_EQ(PictureExtensionOf("/d/x.png\\y"), PictureExtension::None);
#endif
    EXPECT_EQ(PictureExtensionOf("/a/b.JpG"), PictureExtension::Jpeg);
    EXPECT_EQ(PictureExtensionOf("/a/b.jpeg"), PictureExtension::Jpeg);
    EXPECT_EQ(PictureExtensionOf("/a/b.Png"), PictureExtension::Png);
    EXPECT_EQ(PictureExtensionOf("/a.png/b"), PictureExtension::None);
    EXPECT_EQ(PictureExtensionOf("/a/b.cfg"), PictureExtension::None);
}

#ifndef _WIN32
#include "../common/file_policy_cases.h"
#include "../common/fresh_folder.h"

#include <cstdio>
#include <sys/wait.h>
#include <unistd.h>

namespace {

struct TempDir {
    std::filesystem::path path = test::FreshFolder("tk7v-model-files");
    ~TempDir() { std::filesystem::remove_all(path); }
};

} // namespace

TEST(ConfigFile, ReplacingRules) {
    TempDir dir;
    const std::string fresh(512, 'N');
    const auto failures = test::CheckFilePolicy(dir.path, fresh, [&](const std::filesystem::path& p) {
        const auto* bytes = reinterpret_cast<const std::uint8_t*>(fresh.data());
        switch (SaveConfigFile(p, {bytes, fresh.size()}).status) {
        case SaveResult::Status::Written:
            return test::SaveOutcome::Written;
        case SaveResult::Status::WriteFailed:
            return test::SaveOutcome::WriteFailed;
        default:
            return test::SaveOutcome::OpenFailed;
        }
    });
    for (const auto& f : failures)
        ADD_FAILURE() << f;
}

// Another user's file, saved over by an ordinary user: refused where the file is not the user's
// to write, written in place where only the folder refuses the rename (a shared folder with the
// sticky bit). Either way it stays that user's file.
TEST(ConfigFile, AnotherUsersFile) {
    if (::geteuid() != 0) GTEST_SKIP() << "only root can make another user's file";
    constexpr uid_t kNobody = 65534;
    namespace fs = std::filesystem;
    TempDir dir;
    fs::permissions(dir.path, fs::perms::all);
    const struct {
        const char* name;
        fs::perms folder, file;
        SaveResult::Status status;
        char after, backup; // what the file and its ".BAK" hold afterwards, 0 no backup
    } cases[] = {
        {"theirs, in the user's folder", fs::perms::owner_all, fs::perms(0644),
         SaveResult::Status::OpenFailed, 'A', 0},
        {"theirs, writable, shared folder", fs::perms::all | fs::perms::sticky_bit, fs::perms(0666),
         SaveResult::Status::Written, 'N', 'A'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const fs::path folder = dir.path / "f", file = folder / "theirs.cfg", backup = folder / "theirs.BAK";
        fs::remove_all(folder);
        fs::create_directory(folder);
        std::ofstream(file, std::ios::binary) << std::string(512, 'A');
        fs::permissions(file, c.file);
        fs::permissions(folder, c.folder);
        if (c.backup == 0) { // the user's folder
            ASSERT_EQ(::chown(folder.c_str(), kNobody, kNobody), 0);
        }
        const pid_t child = ::fork();
        if (child == 0) { // the save as that user; a rename would also make the file the user's
            const std::string fresh(512, 'N');
            if (::setgid(kNobody) != 0 || ::setuid(kNobody) != 0) ::_exit(100);
            ::_exit(static_cast<int>(
                SaveConfigFile(file, {reinterpret_cast<const std::uint8_t*>(fresh.data()), 512}).status));
        }
        int status = 0;
        ASSERT_EQ(::waitpid(child, &status, 0), child);
        EXPECT_EQ(WEXITSTATUS(status), static_cast<int>(c.status));
        EXPECT_EQ(std::ifstream(file).get(), c.after);
        EXPECT_EQ(std::ifstream(backup).get(), c.backup ? c.backup : EOF);
    }
}

TEST(ConfigFile, KeepingAnExistingFileAndSayingWhatWasDone) {
    TempDir dir;
    const auto file = dir.path / "a.cfg";
    const std::vector<std::uint8_t> bytes(512, 7);
    const SaveResult first = SaveConfigFile(file, bytes, {.replace = false});
    EXPECT_EQ(first.status, SaveResult::Status::Written);
    EXPECT_FALSE(first.replaced);
    const SaveResult again = SaveConfigFile(file, std::vector<std::uint8_t>(512, 8), {.replace = false});
    EXPECT_EQ(again.status, SaveResult::Status::Exists);
    EXPECT_EQ(ReadConfigFile(file).contents, bytes);
    EXPECT_FALSE(std::filesystem::exists(dir.path / "a.BAK"));
    const SaveResult replaced = SaveConfigFile(file, bytes);
    EXPECT_TRUE(replaced.replaced);
    EXPECT_EQ(replaced.backup, SaveResult::Backup::Made);
    EXPECT_EQ(SaveConfigFile(file, bytes).backup, SaveResult::Backup::Earlier);
    EXPECT_EQ(SaveConfigFile(file, bytes, {.keepBackup = false}).backup, SaveResult::Backup::None);
    // Permissions of the replaced file are kept.
    std::filesystem::permissions(file,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    SaveConfigFile(file, bytes);
    EXPECT_EQ(std::filesystem::status(file).permissions(),
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

TEST(ConfigFile, ReadingNamesWhatIsWrong) {
    TempDir dir;
    const auto put = [&](const char* name, std::size_t size) {
        std::ofstream(dir.path / Utf8Path(name), std::ios::binary) << std::string(size, '\1');
    };
    put("ok.cfg", 512);
    put("объект №1.cfg", 512);
    put("short.cfg", 511);
    put("empty.cfg", 0);
    std::filesystem::create_directories(dir.path / "folder.cfg");
    ::mkfifo((dir.path / "pipe.cfg").c_str(), 0600);
    using S = ConfigRead::Status;
    const struct {
        const char* name;
        S status;
        const char* text;
    } cases[] = {
        {"ok.cfg", S::Loaded, ""},
        {"объект №1.cfg", S::Loaded, ""},
        {"none.cfg", S::NotFound, "Файл не найден"},
        {"short.cfg", S::WrongSize, "Неверный размер файла настроек: 511 байт."},
        {"empty.cfg", S::WrongSize, "Неверный размер файла настроек: 0 байт."},
        {"folder.cfg", S::WrongSize, "Неверный размер файла настроек: 0 байт."},
        {"pipe.cfg", S::WrongSize, "Неверный размер файла настроек: 0 байт."}, // never opened
    };
    for (const auto& c : cases) {
        const ConfigRead r = ReadConfigFile(dir.path / Utf8Path(c.name));
        EXPECT_EQ(r.status, c.status) << c.name;
        EXPECT_EQ(ReadFailureText(r), c.text) << c.name;
        EXPECT_EQ(r.contents.size(), c.status == S::Loaded ? 512u : 0u) << c.name;
    }
    EXPECT_EQ(PathUtf8(Utf8Path("объект №1.cfg")), "объект №1.cfg");
}

TEST(ConfigFile, AnInPlaceWriteCutShortPutsTheOldBytesBack) {
    TempDir dir;
    // No name beside it is free (its name is as long as a name can be): it is rewritten in place,
    // and the disk fills after 100 bytes, room for the old 50 (and their backup) but not for the
    // new 512. The backup, made for a replacement that did not happen, goes again.
    const auto file = dir.path / (std::string(250, 'x') + ".cfg");
    std::ofstream(file, std::ios::binary) << std::string(50, 'A');
    rlimit saved{};
    ::getrlimit(RLIMIT_FSIZE, &saved);
    const auto previous = std::signal(SIGXFSZ, SIG_IGN);
    rlimit small = saved;
    small.rlim_cur = 100;
    ::setrlimit(RLIMIT_FSIZE, &small);
    const SaveResult r = SaveConfigFile(file, std::vector<std::uint8_t>(512, 'N'));
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, previous);
    EXPECT_EQ(r.status, SaveResult::Status::WriteFailed);
    EXPECT_EQ(r.backup, SaveResult::Backup::None);
    EXPECT_FALSE(std::filesystem::exists(dir.path / (std::string(250, 'x') + ".BAK")));
    std::ifstream in(file, std::ios::binary);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()),
              std::string(50, 'A'));
}
#endif
