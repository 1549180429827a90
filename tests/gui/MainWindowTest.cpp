// The main window driven as a user drives it, offscreen: start-up from a
// prepared config.ini, adding files, delete, runs with pause, resume, stop
// and power-off, a failing file, closing during a run. Dialogs, message
// boxes, the shell and power-off are fakes: nothing blocks and nothing is
// switched off. Every wait is on a condition with a deadline.
#include <QAbstractButton>
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QProcess>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTimer>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <deque>
#include <memory>

#include "AboutWindow.h"
#include "ComponentBridge.h"
#include "FakeServices.h"
#include "Look.h"
#include "MainWindow.h"
#include "MediaFixtures.h"
#include "PowerOffCountdown.h"

namespace {

// ffprobe's view of an output: decodes without an error and has pictures.
struct TDecoded {
    bool Clean = false;
    int Frames = 0;
    QString Errors;
};

TDecoded DecodeWithFfprobe(const QString &file)
{
    QProcess ffprobe;
    ffprobe.start("ffprobe", {"-v", "error", "-count_frames", "-select_streams", "v:0", "-show_entries",
                              "stream=nb_read_frames", "-of", "csv=p=0", file});
    TDecoded result;
    if (!ffprobe.waitForFinished(60000)) return result;
    result.Errors = QString::fromUtf8(ffprobe.readAllStandardError()).trimmed();
    result.Frames = QString::fromUtf8(ffprobe.readAllStandardOutput()).trimmed().toInt();
    result.Clean = ffprobe.exitCode() == 0 && result.Errors.isEmpty();
    return result;
}

} // namespace

class TMainWindowTest : public QObject {
    Q_OBJECT

private slots:
    void init();
    void cleanup();

    void LayoutCaptionsAndHints();
    void StartsWithRestoredSettings();
    void AddingFillsTheColumns();
    void DeleteWithoutSelection();
    void RunOfThreeFilesReachesFullProgress();
    void PauseHoldsAndResumeContinues();
    void StopEndsWithTheEndOfQueueMessage();
    void RemovedFileFailsAndTheNextConverts();
    void PowerOffOnlyWhenTickedAndCountedDown_data();
    void PowerOffOnlyWhenTickedAndCountedDown();
    void ClosingMidRunReturnsPromptly();
    void OutputFolderButtons();
    void AboutNamesTheProgramAndOpensTheReadme();

private:
    // config.ini in the program folder, then the window, shown.
    void WriteConfig(const QString &text);
    void MakeWindow();
    QString Source(const QString &fixture, const QString &name);
    void AddByDialog(const QStringList &files);
    void StartRun();
    bool WaitForQueueEnd(int ms);
    QStringList Outputs() const;
    QString Cell(int row, int column) const;

    template <typename T> T *Child(const char *name)
    {
        T *child = FWindow->findChild<T *>(name);
        if (!child) qFatal("no child %s", name);
        return child;
    }

    std::unique_ptr<QTemporaryDir> FDir;
    QString FProgram, FOut, FSources;
    TFakeServices FServices;
    std::unique_ptr<TForm1> FWindow;
    std::unique_ptr<QSignalSpy> FQueueEnded;
    int FPowerOffSeconds = 60;
};

void TMainWindowTest::init()
{
    FServices = TFakeServices();
    FPowerOffSeconds = 60;
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FProgram = FDir->path() + "/program/";
    FOut = FDir->path() + "/out";
    FSources = FDir->path() + "/sources";
    QVERIFY(QDir().mkpath(FProgram));
    QVERIFY(QDir().mkpath(FSources));
    // The shipped profiles, as the program folder has them.
    QVERIFY(QFile::link(VIDMORPH_PROGRAM_DIR "/profiles", FProgram + "profiles"));
}

void TMainWindowTest::cleanup()
{
    FQueueEnded.reset();
    FWindow.reset();
    FDir.reset();
}

void TMainWindowTest::WriteConfig(const QString &text)
{
    QFile file(FProgram + "config.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(text.toUtf8());
}

void TMainWindowTest::MakeWindow()
{
    TMainWindowSetup setup;
    setup.ProgramFolder = FProgram.toStdString();
    setup.VideosFolder = FDir->path().toStdString();
    setup.LibraryFolder = VIDMORPH_LIBAV_DIR;
    setup.Messages = &FServices;
    setup.Dialogs = &FServices;
    setup.Shell = &FServices;
    setup.Power = &FServices;
    setup.Beep = &FServices;
    setup.PowerOffSeconds = FPowerOffSeconds;
    FWindow = std::make_unique<TForm1>(setup);
    FQueueEnded = std::make_unique<QSignalSpy>(FWindow.get(), &TForm1::QueueEnded);
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
}

QString TMainWindowTest::Source(const QString &fixture, const QString &name)
{
    const QString path = FSources + "/" + name;
    QFile::remove(path);
    if (!QFile::copy(QString::fromStdString(MediaFixture(fixture.toStdString())), path))
        qFatal("cannot copy fixture %s", qPrintable(fixture));
    return path;
}

void TMainWindowTest::AddByDialog(const QStringList &files)
{
    std::vector<std::string> choice;
    for (const QString &file : files) choice.push_back(file.toStdString());
    FServices.FileChoices.push_back(choice);
    QAbstractButton *add = Child<QToolButton>("sSpeedButton7");
    if (!add->isVisible()) add = Child<QPushButton>("sSpeedButton1");
    QTest::mouseClick(add, Qt::LeftButton);
}

void TMainWindowTest::StartRun() { QTest::mouseClick(Child<QToolButton>("btnStart"), Qt::LeftButton); }

bool TMainWindowTest::WaitForQueueEnd(int ms) { return FQueueEnded->count() > 0 || FQueueEnded->wait(ms); }

QStringList TMainWindowTest::Outputs() const
{
    QStringList files;
    for (const QString &name : QDir(FOut).entryList(QDir::Files, QDir::Name)) files << FOut + "/" + name;
    return files;
}

QString TMainWindowTest::Cell(int row, int column) const
{
    QTreeWidgetItem *item = FWindow->findChild<QTreeWidget *>("sListView1")->topLevelItem(row);
    return item ? item->text(column) : QString("<no row>");
}

// Mp4 preset `preset` on the format tab, the output folder FOut.
static QString Mp4Config(const QString &out, int preset)
{
    return QString("[savepath]\nnewfilepath=%1\n[select]\ncombobox1=1\ncombobox2=%2\ntabindex=0\n")
        .arg(out)
        .arg(preset);
}

void TMainWindowTest::LayoutCaptionsAndHints()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    QCOMPARE(FWindow->windowTitle(), QString("VidmorphV1.4"));
    QCOMPARE(FWindow->centralWidget()->size(), QSize(678, 486));
    QVERIFY(!(FWindow->windowFlags() & Qt::WindowMaximizeButtonHint));
    QCOMPARE(FWindow->minimumSize(), FWindow->maximumSize());

    struct TPlace {
        const char *Name;
        QRect Geometry;
    };
    const TPlace places[] = {
        {"sListView1", QRect(12, 1, 409, 181)},          {"pnlAdd", QRect(11, 1, 411, 201)},
        {"grpOutputSettings", QRect(11, 212, 413, 225)}, {"grpPreview", QRect(430, -1, 234, 295)},
        {"pnlRunControl", QRect(433, 334, 239, 102)},    {"sComboEdit1", QRect(85, 444, 303, 23)},
    };
    for (const TPlace &place : places) QCOMPARE(Child<QWidget>(place.Name)->geometry(), place.Geometry);
    QCOMPARE(Child<QCheckBox>("sCheckBox1")->pos(), QPoint(435, 446));
    QCOMPARE(Child<QPushButton>("sSpeedButton1")->y(), 188);

    struct THint {
        const char *Name;
        const char *Text; // caption, or null
        const char *Hint; // tool tip, or null
    };
    const THint hints[] = {
        {"sSpeedButton7", "添加待转视频文件", "添加待转视频文件"},
        {"sSpeedButton1", "添加", nullptr},
        {"sSpeedButton2", "删除", nullptr},
        {"sSpeedButton3", "清空", nullptr},
        {"btnStart", "开始", nullptr},
        {"btnPause", "暂停", nullptr},
        {"btnResume", "继续", nullptr},
        {"btnStop", "停止", nullptr},
        {"sCheckBox1", "转换完成自动关机", nullptr},
        {"sSpeedButton6", nullptr, "打开目录"},
        {"sComboEdit1Button", nullptr, "另外指定输出目录"},
    };
    for (const THint &hint : hints) {
        auto *button = Child<QAbstractButton>(hint.Name);
        if (hint.Text) QCOMPARE(button->text(), QString(hint.Text));
        if (hint.Hint) QCOMPARE(button->toolTip(), QString(hint.Hint));
    }
    const std::pair<const char *, const char *> comboHints[] = {{"sComboBoxEx1", "选择文件类型方案"},
                                                                {"sComboBoxEx2", "选择预置方案"},
                                                                {"sComboBoxEx3", "选择设备类型"},
                                                                {"sComboBoxEx4", "选择预置方案"}};
    for (const auto &[name, hint] : comboHints) QCOMPARE(Child<QComboBox>(name)->toolTip(), QString(hint));
    QCOMPARE(Child<QLineEdit>("sComboEdit1")->toolTip(), QString("视频输出目录"));
    QCOMPARE(Child<QGroupBox>("grpPreview")->title(), QString("视频预览窗口"));
    QCOMPARE(Child<QGroupBox>("grpOutputSettings")->title(), QString("输出设置："));

    auto *tabs = Child<QTabWidget>("tabSettings");
    const char *captions[4] = {"按预置方案", "按设备类型", "按已有视频", "自己定义"};
    QCOMPARE(tabs->count(), 4);
    for (int i = 0; i < 4; ++i) {
        QCOMPARE(tabs->tabText(i), QString(captions[i]));
        QVERIFY(!tabs->tabIcon(i).isNull());
    }
    // The two tabs' lists sit at the same places; the summary follows the tab.
    QCOMPARE(Child<QComboBox>("sComboBoxEx3")->geometry(), Child<QComboBox>("sComboBoxEx1")->geometry());
    QCOMPARE(Child<QComboBox>("sComboBoxEx4")->geometry(), Child<QComboBox>("sComboBoxEx2")->geometry());
    tabs->setCurrentIndex(2);
    QCOMPARE(Child<QLabel>("lblSummary1")->parentWidget()->parentWidget(), tabs->widget(2));

    auto *list = Child<QTreeWidget>("sListView1");
    const char *columns[5] = {"文件名", "类型", "分辨率", "时长", "进度"};
    for (int i = 0; i < 5; ++i) QCOMPARE(list->headerItem()->text(i), QString(columns[i]));
    QCOMPARE(list->columnWidth(0), 155);
    QCOMPARE(list->columnWidth(2), 70);
    QCOMPARE(list->columnWidth(3), 60);
}

void TMainWindowTest::StartsWithRestoredSettings()
{
    WriteConfig(QString("[savepath]\nnewfilepath=%1\n[select]\ncombobox1=1\ncombobox2=2\ncombobox3=1\n"
                        "combobox4=1\ntabindex=1\n")
                    .arg(FOut));
    MakeWindow();
    QCOMPARE(Child<QTabWidget>("tabSettings")->currentIndex(), 1);
    QCOMPARE(Child<QComboBox>("sComboBoxEx1")->currentIndex(), 1);
    QCOMPARE(Child<QComboBox>("sComboBoxEx2")->currentIndex(), 2);
    QCOMPARE(Child<QComboBox>("sComboBoxEx3")->currentIndex(), 1);
    QCOMPARE(Child<QComboBox>("sComboBoxEx4")->currentIndex(), 1);
    QVERIFY(Child<QComboBox>("sComboBoxEx2")->count() > 2);
    QCOMPARE(Child<QLineEdit>("sComboEdit1")->text(), FOut);
    QVERIFY(QFileInfo(FOut).isDir()); // created at start-up
    // The device tab's profile is shown, with its own frame-rate prefix.
    QVERIFY(Child<QLabel>("lblSummary4")->text().startsWith("桢速率："));
    QVERIFY(Child<QLabel>("lblSummary1")->text().startsWith("视频像素："));
    QVERIFY(FServices.Messages.empty());
}

void TMainWindowTest::AddingFillsTheColumns()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    const QString clip = Source("clip.mp4", "Clip.mp4");
    const QString colours = Source("colours.mp4", "colours.mp4");
    const QString audio = Source("tone.mp3", "tone.mp3");
    QFile bad(FSources + "/bad.avi");
    QVERIFY(bad.open(QIODevice::WriteOnly));
    bad.write("not a video at all");
    bad.close();

    // The same file twice by case, an unreadable file, a file without a picture.
    AddByDialog({clip, FSources + "/CLIP.MP4", bad.fileName(), colours, audio});
    auto *list = Child<QTreeWidget>("sListView1");
    QCOMPARE(list->topLevelItemCount(), 3);
    const QStringList expected[3] = {{"Clip", ".MP4", "160 X 120", " 00:00:02", ""},
                                     {"colours", ".MP4", "160 X 120", " 00:00:04", ""},
                                     {"tone", ".MP3", "0 X 0", " 00:00:02", ""}};
    for (int row = 0; row < 3; ++row)
        for (int column = 0; column < 5; ++column) QCOMPARE(Cell(row, column), expected[row][column]);
    QVERIFY(!Child<QWidget>("pnlAdd")->isVisible());
    for (const char *name : {"sSpeedButton1", "sSpeedButton2", "sSpeedButton3"})
        QVERIFY(Child<QPushButton>(name)->isVisible());
    QVERIFY(FServices.Messages.empty());

    // A second dialog with a file already listed adds nothing.
    AddByDialog({clip});
    QCOMPARE(list->topLevelItemCount(), 3);

    // Clearing leaves the small buttons; adding works again.
    QTest::mouseClick(Child<QPushButton>("sSpeedButton3"), Qt::LeftButton);
    QCOMPARE(list->topLevelItemCount(), 0);
    QVERIFY(Child<QPushButton>("sSpeedButton1")->isVisible());
    AddByDialog({colours});
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), QString("colours"));
}

void TMainWindowTest::DeleteWithoutSelection()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    AddByDialog({Source("clip.mp4", "a.mp4"), Source("clip.mp4", "b.mp4")});
    auto *list = Child<QTreeWidget>("sListView1");
    list->clearSelection();
    QTest::mouseClick(Child<QPushButton>("sSpeedButton2"), Qt::LeftButton);
    QCOMPARE(FServices.Messages.size(), size_t(1));
    QCOMPARE(FServices.Messages[0].first, mkPlain);
    QCOMPARE(FServices.Messages[0].second, std::string("请先选择一个视频文件进行删除！"));
    QCOMPARE(list->topLevelItemCount(), 2);

    list->setCurrentItem(list->topLevelItem(0));
    QTest::mouseClick(Child<QPushButton>("sSpeedButton2"), Qt::LeftButton);
    QCOMPARE(list->topLevelItemCount(), 1);
    QCOMPARE(Cell(0, 0), QString("b"));
    QCOMPARE(FServices.Messages.size(), size_t(1));
}

void TMainWindowTest::RunOfThreeFilesReachesFullProgress()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    // Start with no file: the message, and nothing changes.
    StartRun();
    QVERIFY(FServices.HasMessage(mkError, "请选择视频！"));
    QVERIFY(Child<QToolButton>("btnStart")->isEnabled());
    FServices.Messages.clear();

    AddByDialog(
        {Source("clip.mp4", "one.mp4"), Source("colours.mp4", "two.mp4"), Source("tiny.mp4", "three.mp4")});
    StartRun();
    QVERIFY(!Child<QToolButton>("btnStart")->isEnabled());
    QVERIFY(Child<QPushButton>("btnStop")->isEnabled());
    QVERIFY(!Child<QPushButton>("sSpeedButton1")->isEnabled());
    QVERIFY(WaitForQueueEnd(120000));
    for (int row = 0; row < 3; ++row) QCOMPARE(Cell(row, 4), QString("100%"));
    QVERIFY(FServices.HasMessage(mkInformation, "视频成功转换！"));
    QCOMPARE(FServices.CountKind(mkWarning), 0);
    QVERIFY(Child<QToolButton>("btnStart")->isEnabled());
    QVERIFY(!Child<QPushButton>("btnStop")->isEnabled());
    QVERIFY(Child<QPushButton>("sSpeedButton1")->isEnabled());
    QCOMPARE(FWindow->Component().Tasks().Count(), 0); // cleared after the message

    const QStringList outputs = Outputs();
    QCOMPARE(outputs,
             QStringList({FOut + "/ONE_(new).mp4", FOut + "/THREE_(new).mp4", FOut + "/TWO_(new).mp4"}));
    for (const QString &output : outputs) {
        const TDecoded decoded = DecodeWithFfprobe(output);
        QVERIFY2(decoded.Clean && decoded.Frames > 0, qPrintable(output + ": " + decoded.Errors));
    }
    QCOMPARE(FServices.PowerOffCalls, 0);
}

void TMainWindowTest::PauseHoldsAndResumeContinues()
{
    WriteConfig(Mp4Config(FOut, 12)); // 1280x720: slow enough to catch running
    MakeWindow();
    AddByDialog({Source("gui-long.mp4", "long.mp4"), Source("tiny.mp4", "short.mp4")});
    StartRun();
    QTRY_VERIFY_WITH_TIMEOUT(!Cell(0, 4).isEmpty(), 60000);
    QTest::mouseClick(Child<QPushButton>("btnPause"), Qt::LeftButton);
    QVERIFY(!Child<QPushButton>("btnPause")->isEnabled());
    QVERIFY(Child<QPushButton>("btnResume")->isEnabled());
    QVERIFY(Child<QPushButton>("btnStop")->isEnabled());
    QVERIFY(!Child<QToolButton>("btnStart")->isEnabled());

    // Paused: no progress arrives and the output does not grow.
    auto *bridge = FWindow->findChild<TComponentBridge *>();
    QVERIFY(bridge);
    QCoreApplication::processEvents();
    QSignalSpy progress(bridge, &TComponentBridge::Progress);
    QSignalSpy terminate(bridge, &TComponentBridge::Terminate);
    const QString partial = FOut + "/LONG_(new).mp4";
    const qint64 size = QFileInfo(partial).size();
    QVERIFY(!progress.wait(1500));
    QCOMPARE(terminate.count(), 0);
    QCOMPARE(QFileInfo(partial).size(), size);
    QVERIFY(Cell(0, 4) != "100%");

    QTest::mouseClick(Child<QPushButton>("btnResume"), Qt::LeftButton);
    QVERIFY(Child<QPushButton>("btnPause")->isEnabled());
    QVERIFY(!Child<QPushButton>("btnResume")->isEnabled());
    QVERIFY(WaitForQueueEnd(120000));
    QCOMPARE(Cell(0, 4), QString("100%"));
    QCOMPARE(Cell(1, 4), QString("100%"));
    const TDecoded decoded = DecodeWithFfprobe(partial);
    QVERIFY2(decoded.Clean && decoded.Frames > 200, qPrintable(decoded.Errors));
}

void TMainWindowTest::StopEndsWithTheEndOfQueueMessage()
{
    WriteConfig(Mp4Config(FOut, 12));
    MakeWindow();
    AddByDialog({Source("gui-long.mp4", "long.mp4"), Source("tiny.mp4", "after.mp4")});
    StartRun();
    QTRY_VERIFY_WITH_TIMEOUT(!Cell(0, 4).isEmpty(), 60000);
    // Pause, then stop: the paused task is woken and stopped.
    QTest::mouseClick(Child<QPushButton>("btnPause"), Qt::LeftButton);
    QTest::mouseClick(Child<QPushButton>("btnStop"), Qt::LeftButton);
    QVERIFY(!Child<QPushButton>("btnStop")->isEnabled());
    QVERIFY(WaitForQueueEnd(30000));
    QVERIFY(FServices.HasMessage(mkInformation, "视频成功转换！"));
    QVERIFY(Cell(0, 4) != "100%");
    QCOMPARE(Cell(1, 4), QString());
    // Nothing cut short is left looking finished.
    QCOMPARE(Outputs(), QStringList());
    QVERIFY(Child<QToolButton>("btnStart")->isEnabled());
    QVERIFY(!Child<QPushButton>("btnPause")->isEnabled());
    QVERIFY(!Child<QPushButton>("btnResume")->isEnabled());
}

void TMainWindowTest::RemovedFileFailsAndTheNextConverts()
{
    // On the device tab: the first brand's second model (MP4, 320x240).
    WriteConfig(
        QString("[savepath]\nnewfilepath=%1\n[select]\ncombobox3=0\ncombobox4=1\ntabindex=1\n").arg(FOut));
    MakeWindow();
    const QString gone = Source("clip.mp4", "gone.mp4");
    AddByDialog({Source("tiny.mp4", "first.mp4"), gone, Source("tiny.mp4", "third.mp4")});
    QCOMPARE(Child<QTreeWidget>("sListView1")->topLevelItemCount(), 3);
    QVERIFY(QFile::remove(gone));
    StartRun();
    QVERIFY(WaitForQueueEnd(120000));
    QCOMPARE(Cell(0, 4), QString("100%"));
    QCOMPARE(Cell(1, 4), QString());
    QCOMPARE(Cell(2, 4), QString("100%"));
    QCOMPARE(FServices.CountKind(mkWarning), 1);
    QVERIFY(FServices.HasMessage(mkInformation, "视频成功转换！"));
    QCOMPARE(Outputs(), QStringList({FOut + "/FIRST_(new).mp4", FOut + "/THIRD_(new).mp4"}));
    for (const QString &output : Outputs()) {
        const TDecoded decoded = DecodeWithFfprobe(output);
        QVERIFY2(decoded.Clean && decoded.Frames > 0, qPrintable(output + ": " + decoded.Errors));
    }
}

void TMainWindowTest::PowerOffOnlyWhenTickedAndCountedDown_data()
{
    QTest::addColumn<bool>("ticked");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<int>("calls");
    QTest::newRow("not ticked") << false << false << 0;
    QTest::newRow("ticked, count ran out") << true << false << 1;
    QTest::newRow("ticked, cancelled") << true << true << 0;
}

void TMainWindowTest::PowerOffOnlyWhenTickedAndCountedDown()
{
    QFETCH(bool, ticked);
    QFETCH(bool, cancel);
    QFETCH(int, calls);
    FPowerOffSeconds = cancel ? 60 : 1;
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    AddByDialog({Source("tiny.mp4", "tiny.mp4")});
    Child<QCheckBox>("sCheckBox1")->setChecked(ticked);
    StartRun();
    if (ticked) {
        // The end-of-queue message counts down instead of waiting for a click.
        TPowerOffCountdown *countdown = nullptr;
        QTRY_VERIFY_WITH_TIMEOUT((countdown = FWindow->findChild<TPowerOffCountdown *>()) != nullptr, 60000);
        QVERIFY(countdown->findChild<QLabel *>("lblPowerOff")->text().startsWith("视频成功转换！"));
        QCOMPARE(FServices.PowerOffCalls, 0);
        if (cancel)
            QTest::mouseClick(countdown->findChild<QPushButton *>("btnCancelPowerOff"), Qt::LeftButton);
    }
    QVERIFY(WaitForQueueEnd(60000));
    QCOMPARE(FServices.PowerOffCalls, calls);
    QCOMPARE(Cell(0, 4), QString("100%"));
    if (!ticked) QVERIFY(FServices.HasMessage(mkInformation, "视频成功转换！"));
}

void TMainWindowTest::ClosingMidRunReturnsPromptly()
{
    WriteConfig(Mp4Config(FOut, 12));
    MakeWindow();
    AddByDialog({Source("tiny.mp4", "done.mp4"), Source("gui-long.mp4", "cut.mp4")});
    StartRun();
    QTRY_VERIFY_WITH_TIMEOUT(!Cell(1, 4).isEmpty(), 60000);
    QSignalSpy closed(FWindow.get(), &TForm1::Closed);
    FWindow->close();
    QVERIFY(closed.count() == 1 || closed.wait(10000));
    FQueueEnded.reset();
    FWindow.reset();
    // The finished output is intact; the one cut short is gone.
    QCOMPARE(Outputs(), QStringList({FOut + "/DONE_(new).mp4"}));
    const TDecoded decoded = DecodeWithFfprobe(FOut + "/DONE_(new).mp4");
    QVERIFY2(decoded.Clean && decoded.Frames > 0, qPrintable(decoded.Errors));
}

void TMainWindowTest::OutputFolderButtons()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    auto *field = Child<QLineEdit>("sComboEdit1");
    // Cancelled, and the root: nothing changes.
    for (const char *choice : {"", "/"}) {
        FServices.FolderChoice = choice;
        QTest::mouseClick(Child<QToolButton>("sComboEdit1Button"), Qt::LeftButton);
        QCOMPARE(field->text(), FOut);
    }
    QCOMPARE(FServices.BrowseTitles.back(), std::string("选择一个目录"));
    const QString picked = FDir->path() + "/picked";
    QVERIFY(QDir().mkpath(picked));
    FServices.FolderChoice = picked.toStdString();
    QTest::mouseClick(Child<QToolButton>("sComboEdit1Button"), Qt::LeftButton);
    QCOMPARE(field->text(), picked);
    QFile config(FProgram + "config.ini");
    QVERIFY(config.open(QIODevice::ReadOnly));
    QVERIFY(QString::fromUtf8(config.readAll()).contains("newfilepath=" + picked));

    // Typed text is used for outputs but not saved; the open button opens
    // the remembered folder, creating it when it went missing.
    field->setText(FDir->path() + "/typed");
    QVERIFY(QDir(picked).removeRecursively());
    QTest::mouseClick(Child<QToolButton>("sSpeedButton6"), Qt::LeftButton);
    QCOMPARE(FServices.OpenedFolders, std::vector<std::string>{picked.toStdString()});
    QVERIFY(QFileInfo(picked).isDir());

    // A folder that cannot be made stops a run with a message naming it.
    field->setText("/proc/no-such/folder");
    AddByDialog({Source("tiny.mp4", "tiny.mp4")});
    StartRun();
    QCOMPARE(FServices.CountKind(mkError), 1);
    QVERIFY(FServices.Messages.back().second.find("/proc/no-such/folder") != std::string::npos);
    QVERIFY(Child<QToolButton>("btnStart")->isEnabled());
}

void TMainWindowTest::AboutNamesTheProgramAndOpensTheReadme()
{
    WriteConfig(Mp4Config(FOut, 0));
    MakeWindow();
    bool seen = false;
    // The About window is modal: it is looked at from inside its own loop.
    QTimer::singleShot(0, FWindow.get(), [this, &seen] {
        auto *about = FWindow->findChild<TForm3 *>();
        if (!about) return;
        seen = about->isVisible() && about->windowTitle() == "关于系统";
        auto *text = about->findChild<QLabel *>("lblAbout");
        seen = seen && text->text().contains("软件名称：Vidmorph") && text->text().contains("邮箱：—") &&
               text->text().contains("电话：—");
        QTest::mouseClick(text, Qt::LeftButton);
        auto *close = about->findChild<QPushButton *>("btnClose");
        seen = seen && close->text() == "退 出";
        QTest::mouseClick(close, Qt::LeftButton);
    });
    FWindow->findChild<QAction *>("actAbout")->trigger();
    QVERIFY(seen);
    QCOMPARE(FServices.OpenedUrls,
             std::vector<std::string>{"file://" + FProgram.toStdString() + "README.md"});
}

int main(int argc, char *argv[])
{
    QApplication application(argc, argv);
    ApplyInterfaceLook(application);
    TMainWindowTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "MainWindowTest.moc"
