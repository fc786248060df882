// Configuration files through the window: save, the replace question and the backup, load with
// its size and read checks, the picture remarks, and the caption.
#include "../common/file_policy_cases.h"
#include "fake_dialogs.h"
#include "test_main.h"
#include "ui/controls.h"
#include "ui/tform1.h"
#include "ui/version_info.h"

#include <QCheckBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QStatusBar>
#include <QTemporaryDir>
#include <QTimer>

#include <csignal>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using namespace tk7v;
using tk7v::test::FakeDialogs;

namespace {

QByteArray readAll(const QString& path) {
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

void writeFile(const QString& path, const QByteArray& bytes) {
    QFile f(path);
    QVERIFY(f.open(QIODevice::WriteOnly | QIODevice::Truncate));
    QCOMPARE(f.write(bytes), bytes.size());
}

const QString kProgramCaption = "Конфигуратор ТК-7В v1.0.0.2606";

} // namespace

class FilesTest : public QObject {
    Q_OBJECT

    FakeDialogs dialogs;
    std::unique_ptr<TForm1> form;
    std::unique_ptr<QTemporaryDir> dir;

    QString path(const QString& name) const { return dir->filePath(name); }
    QByteArray imageBytes() const {
        return QByteArray(reinterpret_cast<const char*>(form->image().data()), 512);
    }
    QString hint() const { return form->control("StatusBar1")->toolTip(); }
    QLineEdit* edit(const char* name) const { return form->control<QLineEdit>(name); }
    void save(const QString& file) {
        dialogs.fileToReturn = file;
        form->BitBtn1Click();
    }
    void load(const QString& file) {
        dialogs.fileToReturn = file;
        form->BitBtn2Click();
    }
    // A save while no file may grow beyond `bytes` (as on a full disk).
    void saveWithin(const QString& file, rlim_t bytes) {
        rlimit old{};
        getrlimit(RLIMIT_FSIZE, &old);
        const auto previous = std::signal(SIGXFSZ, SIG_IGN);
        rlimit small = old;
        small.rlim_cur = bytes;
        setrlimit(RLIMIT_FSIZE, &small);
        save(file);
        setrlimit(RLIMIT_FSIZE, &old);
        std::signal(SIGXFSZ, previous);
    }

private slots:
    void init() {
        dialogs = FakeDialogs();
        dir = std::make_unique<QTemporaryDir>();
        TForm1Environment env;
        env.dialogs = &dialogs;
        env.listPorts = [] { return std::vector<std::string>{"ttyS0"}; };
        form = std::make_unique<TForm1>(env);
    }
    void cleanup() {
        form.reset();
        dir.reset();
    }

    void savedDefaultIsTheStartupImage() {
        const ParameterImage startup = form->image();
        save(path("settings.cfg"));
        QCOMPARE(readAll(path("settings.cfg")),
                 QByteArray(reinterpret_cast<const char*>(startup.data()), 512));
        QCOMPARE(form->statusText(), QString("Файл успешно записан."));
        QCOMPARE(hint(), QString("Файл успешно записан."));
        QCOMPARE(form->windowTitle(), kProgramCaption + " - " + path("settings.cfg"));
        QCOMPARE(dialogs.fileDialogs.size(), 1);
        const FileDialogRequest request = dialogs.fileDialogs[0];
        QCOMPARE(request.title, QString("Сохранение настроек в файл"));
        QCOMPARE(request.filter, QString("Файлы конфигурации (*.cfg)|*.cfg|Все файлы (*.*)|*.*"));
        QCOMPARE(request.defaultExt, QString("cfg"));
        QCOMPARE(request.initialName, QString("*.cfg"));
        QVERIFY(dialogs.questions.isEmpty());
    }

    void replacingKeepsTheOldFileAsBackup() {
        writeFile(path("settings.cfg"), QByteArray(512, 'A'));
        save(path("settings.cfg"));
        QCOMPARE(dialogs.questions, QStringList{"Заменить существующий файл settings.cfg?"});
        QCOMPARE(readAll(path("settings.BAK")), QByteArray(512, 'A'));
        QCOMPARE(readAll(path("settings.cfg")), imageBytes());
        // A backup that exists already stays; the file is replaced all the same.
        writeFile(path("settings.cfg"), QByteArray(512, 'B'));
        save(path("settings.cfg"));
        QCOMPARE(readAll(path("settings.BAK")), QByteArray(512, 'A'));
        QCOMPARE(readAll(path("settings.cfg")), imageBytes());
    }

    void noOrCancelTouchesNothing_data() {
        QTest::addColumn<int>("answer");
        QTest::newRow("No") << int(Dialogs::Answer::No);
        QTest::newRow("Cancel") << int(Dialogs::Answer::Cancel);
    }
    void noOrCancelTouchesNothing() {
        QFETCH(int, answer);
        writeFile(path("settings.cfg"), QByteArray(512, 'A'));
        writeFile(path("settings.BAK"), QByteArray(512, 'Z'));
        form->PostStatus("before");
        dialogs.answer = Dialogs::Answer(answer);
        save(path("settings.cfg"));
        QCOMPARE(readAll(path("settings.cfg")), QByteArray(512, 'A'));
        QCOMPARE(readAll(path("settings.BAK")), QByteArray(512, 'Z'));
        QCOMPARE(form->statusText(), QString());
        QCOMPARE(hint(), QString());
        QCOMPARE(form->windowTitle(), kProgramCaption);
    }

    void conversionFailureOpensNoDialog() {
        edit("RS_frames")->setText("");
        save(path("x.cfg"));
        QVERIFY(dialogs.fileDialogs.isEmpty());
        QCOMPARE(dialogs.errors,
                 QStringList{"Ошибка при обработке данных: '' не является разрешённым числовым значением."});
        QVERIFY(!QFile::exists(path("x.cfg")));
    }

    void failedSavesKeepThePreviousFile() {
        // A folder that does not exist: the file cannot be created.
        save(path("missing/x.cfg"));
        QCOMPARE(dialogs.errors, QStringList{"Ошибка открытия файла"});
        QCOMPARE(form->windowTitle(), kProgramCaption);
        // A write cut short (a file-size limit, as on a full disk): the old file stays whole.
        writeFile(path("settings.cfg"), QByteArray(512, 'A'));
        QFile::remove(path("settings.BAK"));
        writeFile(path("settings.BAK"), QByteArray(512, 'Z')); // so the old file is not renamed away
        saveWithin(path("settings.cfg"), 100);
        QCOMPARE(dialogs.errors.last(), QString("Ошибка записи в файл"));
        QCOMPARE(readAll(path("settings.cfg")), QByteArray(512, 'A'));
        QCOMPARE(form->statusText(), QString());
        QCOMPARE(form->windowTitle(), kProgramCaption);
        QCOMPARE(QDir(dir->path()).entryList(QDir::Files).size(), 2); // no temporary left behind
        // The same with no earlier backup: the old content stays under its own name.
        QFile::remove(path("settings.BAK"));
        saveWithin(path("settings.cfg"), 100);
        QCOMPARE(dialogs.errors.last(), QString("Ошибка записи в файл"));
        QCOMPARE(readAll(path("settings.cfg")), QByteArray(512, 'A'));
    }

    // The same rules as every other front end's save, with the window's boxes as the outcome.
    void replacingRules() {
        const ParameterImage startup = StartupImage();
        const std::string fresh(reinterpret_cast<const char*>(startup.data()), startup.size());
        const auto failures =
            test::CheckFilePolicy(dir->path().toStdString(), fresh, [&](const std::filesystem::path& p) {
                dialogs.errors.clear();
                save(QString::fromStdString(p.string()));
                if (dialogs.errors.isEmpty()) return test::SaveOutcome::Written;
                return dialogs.errors.last() == "Ошибка записи в файл" ? test::SaveOutcome::WriteFailed
                                                                       : test::SaveOutcome::OpenFailed;
            });
        for (const auto& f : failures)
            qWarning("%s", f.c_str());
        QVERIFY(failures.empty());
    }

    void notAPlainFileAndNoExtension() {
        // A pipe is refused at once instead of holding the window until someone writes into it.
        QVERIFY(::mkfifo(path("pipe.cfg").toLocal8Bit().constData(), 0600) == 0);
        load(path("pipe.cfg"));
        QCOMPARE(dialogs.errors.last(), QString("Неверный размер файла настроек: 0 байт."));
        save(path("pipe.cfg"));
        QCOMPARE(dialogs.errors.last(), QString("Ошибка открытия файла"));
        QVERIFY(!QFile::exists(path("pipe.BAK")));
        // A name without an extension loads; the open dialog adds none, the save dialog "cfg".
        writeFile(path("noext"), QByteArray(512, '\0'));
        load(path("noext"));
        QCOMPARE(form->statusText(), QString("Файл успешно прочитан."));
        QCOMPARE(dialogs.fileDialogs[0].defaultExt, QString());
        QCOMPARE(dialogs.fileDialogs[1].defaultExt, QString("cfg"));
        for (const auto& request : dialogs.fileDialogs)
            QCOMPARE(request.initialName, QString("*.cfg"));
    }

    void realReplaceQuestionClosedWithoutYesSavesNothing_data() {
        QTest::addColumn<bool>("escape");
        QTest::newRow("Esc") << true;
        QTest::newRow("close button") << false;
    }
    void realReplaceQuestionClosedWithoutYesSavesNothing() {
        QFETCH(bool, escape);
        struct RealQuestion : FakeDialogs {
            Answer question(QWidget* parent, const QString& text) override {
                return QtDialogs().question(parent, text);
            }
        } real;
        real.fileToReturn = path("settings.cfg");
        TForm1Environment env;
        env.dialogs = &real;
        env.listPorts = [] { return std::vector<std::string>{"ttyS0"}; };
        form = std::make_unique<TForm1>(env);
        writeFile(path("settings.cfg"), QByteArray(512, 'A'));
        QTimer answer;
        connect(&answer, &QTimer::timeout, this, [&] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) return;
            answer.stop();
            if (escape)
                QTest::keyClick(box, Qt::Key_Escape);
            else
                box->close();
        });
        answer.start(10);
        form->BitBtn1Click();
        QVERIFY(!answer.isActive());
        QCOMPARE(readAll(path("settings.cfg")), QByteArray(512, 'A'));
        QVERIFY(!QFile::exists(path("settings.BAK")));
        QCOMPARE(form->windowTitle(), kProgramCaption);
    }

    void fileThatVanishesOrIsNoFileAfterTheDialog() {
        writeFile(path("gone.cfg"), QByteArray(512, '\0'));
        dialogs.onFileChosen = [&] { QFile::remove(path("gone.cfg")); };
        load(path("gone.cfg"));
        QCOMPARE(form->statusText(), QString("Файл не найден."));
        QCOMPARE(dialogs.errors, QStringList{"Файл не найден"});
        dialogs.onFileChosen = nullptr;
        // A folder of that name: it cannot be read as a file, so its size counts as 0.
        QVERIFY(QDir().mkpath(path("folder.cfg")));
        load(path("folder.cfg"));
        QCOMPARE(form->statusText(), QString("Файл не загружен: неверный размер."));
        QCOMPARE(dialogs.errors.last(), QString("Неверный размер файла настроек: 0 байт."));
        QCOMPARE(form->windowTitle(), kProgramCaption);
    }

    void saveIntoAReadOnlyFolder() {
        if (::geteuid() == 0)
            QSKIP("root writes into any folder; the size-limit case covers a failing write");
        QVERIFY(QDir().mkpath(path("ro")));
        writeFile(path("ro/settings.cfg"), QByteArray(512, 'A'));
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner);
        save(path("ro/settings.cfg"));
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        // No file can be made beside it, so the file itself is rewritten.
        QVERIFY(dialogs.errors.isEmpty());
        QCOMPARE(readAll(path("ro/settings.cfg")), imageBytes());
    }

    void failedWriteInPlacePutsTheOldBytesBack() {
        if (::geteuid() == 0) QSKIP("root writes into any folder; run as another user in CI");
        QVERIFY(QDir().mkpath(path("ro")));
        writeFile(path("ro/settings.cfg"), QByteArray(50, 'A'));
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::ExeOwner);
        saveWithin(path("ro/settings.cfg"), 100); // the new 512 bytes stop at 100, the old 50 fit
        QFile::setPermissions(path("ro"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        QCOMPARE(dialogs.errors, QStringList{"Ошибка записи в файл"});
        QCOMPARE(readAll(path("ro/settings.cfg")), QByteArray(50, 'A'));
    }

    void wrongSizesAreRefused_data() {
        QTest::addColumn<int>("size");
        QTest::addColumn<QString>("name");
        QTest::newRow("empty") << 0 << "a.cfg";
        QTest::newRow("511") << 511 << "a.cfg";
        QTest::newRow("513") << 513 << "a.cfg";
        QTest::newRow("picture of a wrong size") << 100 << "a.png";
    }
    void wrongSizesAreRefused() {
        QFETCH(int, size);
        QFETCH(QString, name);
        writeFile(path(name), QByteArray(size, '\0'));
        const ParameterImage before = form->image();
        load(path(name));
        QCOMPARE(form->statusText(), QString("Файл не загружен: неверный размер."));
        QCOMPARE(hint(), form->statusText());
        QCOMPARE(dialogs.errors, QStringList{QString("Неверный размер файла настроек: %1 байт.").arg(size)});
        QVERIFY(form->image() == before);
        QCOMPARE(edit("CS1_hand_time")->text(), QString("10"));
        QCOMPARE(form->windowTitle(), kProgramCaption);
        QVERIFY(!form->pictureAnimationRunning());
    }

    void missingFile() {
        load(path("gone.cfg"));
        QCOMPARE(form->statusText(), QString("Файл не найден."));
        QCOMPARE(dialogs.errors, QStringList{"Файл не найден"});
        const FileDialogRequest request = dialogs.fileDialogs[0];
        QCOMPARE(request.title, QString("Загрузка настроек из файла"));
        QVERIFY(request.mustExist);
    }

    void anyFileOf512BytesLoads() {
        QByteArray zeros(512, '\0');
        zeros.replace(238, 274, QByteArray(274, '\x77')); // never looked at
        writeFile(path("zero.cfg"), zeros);
        form->control<QCheckBox>("RS_filter_on")->setChecked(true);
        load(path("zero.cfg"));
        QCOMPARE(form->statusText(), QString("Файл успешно прочитан."));
        QCOMPARE(hint(), QString("Файл успешно прочитан."));
        QCOMPARE(form->windowTitle(), kProgramCaption + " - " + path("zero.cfg"));
        for (const char* n : {"CS1_dial_each_n", "CS1_hand_time", "CS2_kissoff_time", "TS_line_ctrl_tm",
                              "TS_object_id", "RS_packets", "RS_frames"})
            QCOMPARE(edit(n)->text(), QString("0"));
        QCOMPARE(edit("CS1_phone_1")->text(), QString());
        QVERIFY(form->control<QCheckBox>("CS1_active")->isChecked());
        QVERIFY(!form->control<QCheckBox>("RS_filter_on")->isChecked());
        QVERIFY(!form->control("RS_alarm_on")->isEnabledTo(form->control("GroupBox6")));
        QCOMPARE(form->control<TRadioGroup>("RS_newpaf_on")->itemIndex(), 0);
        QCOMPARE(form->image()[238], 0xFF);
    }

    void saveThenLoadReproducesTheControls() {
        edit("CS1_phone_1")->setText("8 (800) 123-45-67,,9");
        edit("TS_line_ctrl_tm")->setText("300");
        edit("TS_object_id")->setText("8191");
        edit("CS2_hand_time")->setText("$1F");
        form->control<TRadioGroup>("TS_tone_dial_on")->setItemIndex(1);
        form->control<QCheckBox>("RS_arm_disarm_on")->setChecked(true);
        save(path("round.cfg"));
        TForm1Environment env;
        env.dialogs = &dialogs;
        env.listPorts = [] { return std::vector<std::string>{"ttyS0"}; };
        form = std::make_unique<TForm1>(env);
        load(path("round.cfg"));
        QCOMPARE(edit("CS1_phone_1")->text(), QString("88001234567,,9"));
        QCOMPARE(edit("TS_line_ctrl_tm")->text(), QString("44"));
        QCOMPARE(edit("TS_object_id")->text(), QString("8191"));
        QCOMPARE(edit("CS2_hand_time")->text(), QString("31"));
        QCOMPARE(form->control<TRadioGroup>("TS_tone_dial_on")->itemIndex(), 1);
        QVERIFY(form->control<QCheckBox>("RS_arm_disarm_on")->isChecked());
        QVERIFY(!form->control("RS_arm_disarm_on")->isEnabledTo(form->control("GroupBox6")));
    }

    void pictureExtensions() {
        for (const QString name : {"a.jpg", "b.JPEG", "c.JpG"}) {
            writeFile(path(name), QByteArray(512, '\0'));
            load(path(name));
            QCOMPARE(form->statusText(), QString("JPEG - хорошо, а PNG - лучше!"));
            QCOMPARE(form->windowTitle(), kProgramCaption + " - " + path(name));
        }
        writeFile(path("d.PnG"), QByteArray(512, '\0'));
        const QString figure = "(\"\\_(О.О)_/\")";
        QCOMPARE(figure.size(), 13);
        QStringList seen;
        QElapsedTimer clock;
        clock.start();
        QList<qint64> at;
        connect(form.get(), &TForm1::statusChanged, this, [&](const QString& text) {
            seen << text;
            at << clock.elapsed();
        });
        load(path("d.PnG"));
        QVERIFY(form->pictureAnimationRunning());
        QTRY_VERIFY_WITH_TIMEOUT(!form->pictureAnimationRunning(), 3000);
        seen.removeAll(QString()); // the status is cleared first, as every load begins
        seen << form->statusText();
        QCOMPARE(seen.size(), 12);
        for (int i = 0; i <= 10; ++i)
            QCOMPARE(seen[i], QString(16 * i, ' ') + figure);
        QCOMPARE(seen.last(), QString());
        QCOMPARE(hint(), QString());
        QVERIFY(at.last() - at[at.size() - 2] < 50); // cleared right after the tenth shift
        QVERIFY(at.last() >= 950);                   // ten steps of 100 ms; a coarse timer may fire 5% early
    }

    void captionShowsNameAloneBesideTheProgram() {
        const QString programDir = QCoreApplication::applicationDirPath();
        form->UpdateCaption(programDir + "/settings.cfg");
        QCOMPARE(form->windowTitle(), kProgramCaption + " - settings.cfg");
        form->UpdateCaption(programDir.toUpper() + "/settings.cfg");
        QCOMPARE(form->windowTitle(), kProgramCaption + " - settings.cfg");
        form->UpdateCaption(programDir + "/sub/settings.cfg");
        QCOMPARE(form->windowTitle(), kProgramCaption + " - " + programDir + "/sub/settings.cfg");
        form->UpdateCaption();
        QCOMPARE(form->windowTitle(), kProgramCaption);
    }

    void versionFallbacks() {
        QCOMPARE(GetVersionValue(QCoreApplication::applicationFilePath(), "FileVersion"),
                 QString("1.0.0.2606"));
        QCOMPARE(GetVersionValue(path("none"), "FileVersion"), QString("UNKNOWN"));
        writeFile(path("plain"), "no version here");
        QCOMPARE(GetVersionValue(path("plain"), "FileVersion"), QString("UNKNOWN"));
        // Put together at run time: the whole marker as one literal would be found in this test itself.
        QByteArray block("xx");
        block += '\0';
        block += QByteArray("TK7V-") + "VERSIONINFO";
        block += '\0';
        block += "ProductName=x";
        block += QByteArray(2, '\0');
        writeFile(path("other"), block);
        QCOMPARE(GetVersionValue(path("other"), "FileVersion"), QString(""));
    }
};

TK7V_TEST_MAIN(FilesTest)
#include "files_test.moc"
