// The frame preview, the sample and custom tabs and "转换时预览" inside the
// main window, driven as a user drives them, offscreen. Dialogs and message
// boxes are fakes; every wait is on a condition with a deadline.
#include <QCheckBox>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QToolButton>
#include <QTreeWidget>

#include <deque>
#include <memory>

#include "FakeServices.h"
#include "MainWindow.h"
#include "MediaFixtures.h"
#include "PreviewGroup.h"
#include "PreviewPanels.h"
#include "ProbeOutput.h"
#include "TrackBar.h"

namespace {

// The number a picture of timer.mp4 shows as eight bars; -1 when unclear.
int PictureNumber(const QImage &picture)
{
    if (picture.isNull()) return -1;
    int number = 0;
    for (int k = 0; k < 8; ++k) {
        const int grey = qGray(picture.pixel(int((k + 0.5) * picture.width() / 8), picture.height() / 2));
        if (grey > 70 && grey < 180) return -1;
        if (grey >= 180) number |= 1 << k;
    }
    return number;
}

std::vector<int> DecodedPictureNumbers(const std::string &file)
{
    const std::string raw = CaptureOutput("ffmpeg -nostdin -v error -i " + ShellQuote(file) +
                                          " -vf scale=160:120 -f rawvideo -pix_fmt gray - 2>/dev/null");
    std::vector<int> numbers;
    const size_t size = 160 * 120;
    for (size_t at = 0; at + size <= raw.size(); at += size)
        numbers.push_back(PictureNumber(QImage(reinterpret_cast<const uchar *>(raw.data() + at), 160, 120,
                                               160, QImage::Format_Grayscale8)));
    return numbers;
}

double Seconds(const TStreamFields &stream, const char *key)
{
    auto i = stream.find(key);
    return i == stream.end() || i->second == "N/A" ? -1 : std::atof(i->second.c_str());
}

} // namespace

class PreviewWindowTest : public QObject {
    Q_OBJECT
private slots:
    void init();
    void cleanup();

    void previewFollowsTheSourceList();
    void clipMarkedInTheWindowConvertsExactly();
    void sampleTabRunUsesTheAnalysedSample();
    void customTabChecksInOrderAndMkvGivesH264();

private:
    void MakeWindow(const QString &config);
    void AddByDialog(const QStringList &files);
    void Start() { QTest::mouseClick(Child<QToolButton>("btnStart"), Qt::LeftButton); }
    bool WaitForQueueEnd(int ms) { return FQueueEnded->count() > 0 || FQueueEnded->wait(ms); }
    QStringList Outputs() const;
    std::string LastMessage() const
    {
        return FServices.Messages.empty() ? "" : FServices.Messages.back().second;
    }

    template <typename T> T *Child(const char *name)
    {
        T *child = FWindow->findChild<T *>(name);
        if (!child) qFatal("no child %s", name);
        return child;
    }

    std::unique_ptr<QTemporaryDir> FDir;
    QString FProgram, FOut;
    TFakeServices FServices;
    std::unique_ptr<TForm1> FWindow;
    std::unique_ptr<TPreviewPanels> FPanels;
    std::unique_ptr<QSignalSpy> FQueueEnded;
};

void PreviewWindowTest::init()
{
    FServices = TFakeServices();
    FDir = std::make_unique<QTemporaryDir>();
    QVERIFY(FDir->isValid());
    FProgram = FDir->path() + "/program/";
    FOut = FDir->path() + "/out";
    QVERIFY(QDir().mkpath(FProgram));
    QVERIFY(QFile::link(VIDMORPH_PROGRAM_DIR "/profiles", FProgram + "profiles"));
}

void PreviewWindowTest::cleanup()
{
    FQueueEnded.reset();
    FPanels.reset();
    FWindow.reset();
    FDir.reset();
}

// The window on a program folder of its own, with `config` as config.ini.
void PreviewWindowTest::MakeWindow(const QString &config)
{
    QFile file(FProgram + "config.ini");
    QVERIFY(file.open(QIODevice::WriteOnly));
    file.write(QString("[savepath]\nnewfilepath=%1\n").arg(FOut).toUtf8() + config.toUtf8());
    file.close();
    TMainWindowSetup setup;
    setup.ProgramFolder = FProgram.toStdString();
    setup.VideosFolder = FDir->path().toStdString();
    setup.LibraryFolder = VIDMORPH_LIBAV_DIR;
    setup.Messages = &FServices;
    setup.Dialogs = &FServices;
    setup.Shell = &FServices;
    setup.Power = &FServices;
    setup.Beep = &FServices;
    FWindow = std::make_unique<TForm1>(setup);
    FPanels = std::make_unique<TPreviewPanels>(*FWindow);
    FQueueEnded = std::make_unique<QSignalSpy>(FWindow.get(), &TForm1::QueueEnded);
    FWindow->show();
    QVERIFY(QTest::qWaitForWindowExposed(FWindow.get()));
}

void PreviewWindowTest::AddByDialog(const QStringList &files)
{
    std::vector<std::string> choice;
    for (const QString &file : files) choice.push_back(file.toStdString());
    FServices.FileChoices.push_back(choice);
    QAbstractButton *add = Child<QToolButton>("sSpeedButton7");
    if (!add->isVisible()) add = Child<QPushButton>("sSpeedButton1");
    QTest::mouseClick(add, Qt::LeftButton);
}

QStringList PreviewWindowTest::Outputs() const
{
    QStringList files;
    for (const QString &name : QDir(FOut).entryList(QDir::Files, QDir::Name)) files << FOut + "/" + name;
    return files;
}

// The preview shows the file last added, then the row selected; clearing
// the list leaves the placeholder. The group sits where the window puts
// it, and "转换时预览" under the shutdown box.
void PreviewWindowTest::previewFollowsTheSourceList()
{
    MakeWindow("[select]\ncombobox1=1\ncombobox2=0\ntabindex=0\n");
    TPreviewGroup *preview = FPanels->Preview();
    QCOMPARE(preview->parentWidget(), FWindow->PreviewGroup());
    QCOMPARE(FWindow->PreviewGroup()->title(), QString("视频预览窗口"));
    const QImage placeholder = preview->PictureBox()->Canvas().copy();
    auto *convertPreview = Child<QCheckBox>("chkConvertPreview");
    QCOMPARE(convertPreview->geometry().top(), Child<QCheckBox>("sCheckBox1")->geometry().bottom() + 1);
    QVERIFY(!convertPreview->isChecked());

    AddByDialog({QString::fromStdString(MediaFixture("timer.mp4")),
                 QString::fromStdString(MediaFixture("still.png"))});
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTreeWidget>("sListView1")->topLevelItemCount(), 2, 10000);
    QVERIFY(Child<TTrackBar>("trcPreview")->isHidden()); // still.png
    QCOMPARE(preview->Frame().size(), QSize(160, 120));

    Child<QTreeWidget>("sListView1")->setCurrentItem(Child<QTreeWidget>("sListView1")->topLevelItem(0));
    QTRY_VERIFY_WITH_TIMEOUT(!Child<TTrackBar>("trcPreview")->isHidden(), 10000);
    QCOMPARE(Child<TTrackBar>("trcPreview")->maximum(), 4000);
    QCOMPARE(PictureNumber(preview->Frame()), 0);
    QCOMPARE(Child<QLabel>("lblPTS")->text(), QString("PTS: 0.000"));

    QTest::mouseClick(Child<QPushButton>("sSpeedButton3"), Qt::LeftButton); // clear
    QCOMPARE(preview->PictureBox()->Canvas(), placeholder);
}

// A clip marked at 1.0 s and 3.0 s (between key frames) on the window's
// preview converts from the picture shown at the start mark to the one
// before the end mark: 2.0 s within one picture, the sound starting with it.
void PreviewWindowTest::clipMarkedInTheWindowConvertsExactly()
{
    // MP4 preset 13: 480x360 at 25 fps, the source's rate and shape.
    MakeWindow("[select]\ncombobox1=1\ncombobox2=13\ntabindex=0\n");
    AddByDialog({QString::fromStdString(MediaFixture("timer.mp4"))});
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTreeWidget>("sListView1")->topLevelItemCount(), 1, 10000);
    TPreviewGroup *preview = FPanels->Preview();
    TTrackBar *track = Child<TTrackBar>("trcPreview");
    int shown[2] = {-1, -1};
    const int marks[2] = {1000, 3000}; // positions of 1 ms
    const char *buttons[2] = {"btnStartTime", "btnEndTime"};
    for (int i = 0; i < 2; ++i) {
        track->setValue(marks[i]);
        QTRY_VERIFY_WITH_TIMEOUT(preview->Settled(), 10000);
        shown[i] = PictureNumber(preview->Frame());
        QTest::mouseClick(Child<QPushButton>(buttons[i]), Qt::LeftButton);
    }
    QCOMPARE(shown[0], 25); // the pictures at 1.0 s and 3.0 s
    QCOMPARE(shown[1], 75);
    QTest::mouseClick(Child<QCheckBox>("chkCutClip"), Qt::LeftButton);
    QVERIFY(FWindow->Clip().ClipActive());

    Start();
    QVERIFY(WaitForQueueEnd(120000));
    const QStringList outputs = Outputs();
    QCOMPARE(outputs.size(), 1);
    const std::string out = outputs.front().toStdString();
    const std::vector<int> numbers = DecodedPictureNumbers(out);
    QVERIFY(!numbers.empty());
    QCOMPARE(numbers.front(), shown[0]);
    QCOMPARE(numbers.back(), shown[1] - 1);
    const std::vector<TStreamFields> streams = ProbeStreams(out);
    const TStreamFields *video = StreamOfType(streams, "video");
    const TStreamFields *audio = StreamOfType(streams, "audio");
    QVERIFY(video && audio);
    QCOMPARE(video->at("width"), std::string("480"));
    const double frame = 1.0 / 25;
    QVERIFY2(qAbs(Seconds(*video, "duration") - 2.0) <= frame + 1e-6, video->at("duration").c_str());
    QVERIFY2(qAbs(Seconds(*audio, "duration") - 2.0) <= frame + 1e-6, audio->at("duration").c_str());
    QVERIFY2(qAbs(Seconds(*audio, "start_time") - Seconds(*video, "start_time")) <= frame,
             (audio->at("start_time") + " " + video->at("start_time")).c_str());
}

// "分析视频文件" on a 640x480 25 fps sample fills the summary lines; a run
// on the sample tab converts at the sample's size and rate, into its type.
void PreviewWindowTest::sampleTabRunUsesTheAnalysedSample()
{
    MakeWindow("[select]\ncombobox1=1\ncombobox2=0\ntabindex=2\n");
    QCOMPARE(Child<QTabWidget>("tabSettings")->currentIndex(), 2);
    FServices.FileChoices.push_back({MediaFixture("sample-640x480.mp4")});
    QTest::mouseClick(Child<QPushButton>("sSpeedButton4"), Qt::LeftButton);
    QCOMPARE(LastMessage(), std::string("您选择的视频格式为 .mp4"));
    QCOMPARE(Child<QLabel>("lblSummary1")->text(), QString("视频像素：640X480"));
    QCOMPARE(Child<QLabel>("lblSummary4")->text(), QString("帧速率：25"));
    QVERIFY(QFile::exists(FProgram + "extfile.ini"));

    AddByDialog({QString::fromStdString(MediaFixture("clip.mp4"))});
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTreeWidget>("sListView1")->topLevelItemCount(), 1, 10000);
    Start();
    QVERIFY(WaitForQueueEnd(120000));
    const QStringList outputs = Outputs();
    QCOMPARE(outputs.size(), 1);
    QVERIFY2(outputs.front().endsWith(".mp4"), qPrintable(outputs.front()));
    const std::vector<TStreamFields> streams = ProbeStreams(outputs.front().toStdString());
    const TStreamFields *video = StreamOfType(streams, "video");
    QVERIFY(video);
    QCOMPARE(video->at("width") + "x" + video->at("height"), std::string("640x480"));
    QCOMPARE(video->at("r_frame_rate"), std::string("25/1"));
    QVERIFY(std::atoi(video->at("nb_read_frames").c_str()) > 0);
}

// Start on the custom tab: the window's own checks first (size, bit rate,
// frame rate), then the option building's (the panel must have been
// opened; pasted text that is no number); nothing is queued after a
// message. A valid MKV choice converts with H.264.
void PreviewWindowTest::customTabChecksInOrderAndMkvGivesH264()
{
    MakeWindow("[select]\ncombobox1=1\ncombobox2=3\ntabindex=3\n");
    AddByDialog({QString::fromStdString(MediaFixture("clip.mp4"))});
    QTRY_COMPARE_WITH_TIMEOUT(Child<QTreeWidget>("sListView1")->topLevelItemCount(), 1, 10000);
    QCOMPARE(Child<QTabWidget>("tabSettings")->currentIndex(), 3);

    Start(); // panel never opened: the defaults pass the window's checks
    QCOMPARE(LastMessage(), std::string("请设定对应视频参数！"));
    QTest::mouseClick(Child<QPushButton>("sSpeedButton5"), Qt::LeftButton);
    QVERIFY(Child<QWidget>("sPanel3")->isVisible());

    struct TCase {
        const char *Field;
        const char *Text;
        const char *Message;
    };
    const TCase cases[] = {
        {"sEdit1", " ", "请输入视频尺寸！"},
        {"sEdit2", "", "请输入视频尺寸！"},
        {"sEdit3", "", "请输入视频比特率！"},
        {"sEdit4", "", "请输入视频帧速率！"},
        {"sEdit1", "1a", "视频尺寸必须是大于 0 的整数！"}, // pasted past the key filter
    };
    for (const TCase &c : cases) {
        QLineEdit *edit = Child<QLineEdit>(c.Field);
        const QString before = edit->text();
        edit->setText(c.Text);
        const size_t shown = FServices.Messages.size();
        Start();
        QCOMPARE(FServices.Messages.size(), shown + 1);
        QCOMPARE(FServices.Messages.back().first, mkError);
        QCOMPARE(LastMessage(), std::string(c.Message));
        QVERIFY(FQueueEnded->isEmpty());
        edit->setText(before);
    }
    QVERIFY(Outputs().isEmpty());

    // The type list shares the format list's handling of a user's choice:
    // the format tab's presets are reloaded from the first and the
    // selection is saved.
    QComboBox *type = Child<QComboBox>("sComboBoxEx5");
    type->setFocus();
    QTest::keyClick(type, Qt::Key_Down);
    QCOMPARE(type->currentIndex(), 1);
    QCOMPARE(FWindow->Settings().ReadSelection().ComboBox2, 0);
    QCOMPARE(FWindow->Settings().ReadSelection().ComboBox1, 1);
    type->setCurrentIndex(7); // MKV
    Child<QLineEdit>("sEdit1")->setText("160");
    Child<QLineEdit>("sEdit2")->setText("120");
    Child<QLineEdit>("sEdit3")->setText("200000");
    Child<QLineEdit>("sEdit4")->setText("25");
    Start();
    QVERIFY(WaitForQueueEnd(120000));
    const QStringList outputs = Outputs();
    QCOMPARE(outputs.size(), 1);
    QVERIFY2(outputs.front().endsWith(".mkv"), qPrintable(outputs.front()));
    const std::vector<TStreamFields> streams = ProbeStreams(outputs.front().toStdString());
    const TStreamFields *video = StreamOfType(streams, "video");
    QVERIFY(video);
    QCOMPARE(video->at("codec_name"), std::string("h264"));
    QCOMPARE(video->at("width") + "x" + video->at("height"), std::string("160x120"));
    QVERIFY(std::atoi(video->at("nb_read_frames").c_str()) > 0);
}

QTEST_MAIN(PreviewWindowTest)
#include "PreviewWindowTest.moc"
