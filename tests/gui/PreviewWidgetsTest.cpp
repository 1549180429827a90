// The frame preview, the sample and custom tabs and the conversion
// previewer window, offscreen. Waits are on conditions with deadlines.
#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "AppSettings.h"
#include "ClipRange.h"
#include "ConvertPreviewBox.h"
#include "CustomTab.h"
#include "IniFile.h"
#include "SampleTab.h"
#include "Services.h"
#include "MediaFixtures.h"
#include "PreviewGroup.h"
#include "PreviewerWindow.h"
#include "TrackBar.h"
#include "ZUzidiDOR.h"

namespace {

std::u16string Wide(const QString &text) { return text.toStdU16String(); }

std::u16string Wide(const std::string &text) { return QString::fromStdString(text).toStdU16String(); }

QList<TPreviewerWidget *> PreviewerWindows()
{
    QList<TPreviewerWidget *> windows;
    for (QWidget *widget : QApplication::topLevelWidgets())
        if (auto *window = qobject_cast<TPreviewerWidget *>(widget)) windows << window;
    return windows;
}

// The number that a picture of timer.mp4 shows as eight bars (bar k white
// when bit k is set); -1 when a bar is neither black nor white.
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

// A component with the libraries loaded, whose probe the preview borrows.
std::unique_ptr<TZUzidiDOR> LoadedComponent()
{
    auto component = std::make_unique<TZUzidiDOR>();
    if (!component->LoadMediaLibraries(Wide(std::string(VIDMORPH_LIBAV_DIR)))) return nullptr;
    return component;
}

template <typename T> T *Child(QWidget *parent, const char *name)
{
    return parent->findChild<T *>(QString::fromLatin1(name));
}

// Opens fixture `name` in the component's probe and shows it in `group`.
bool OpenInPreview(TZUzidiDOR &component, TPreviewGroup &group, const std::string &name)
{
    if (!component.Probe().OpenFile(Wide(MediaFixture(name)))) return false;
    group.OpenPreview(component.Probe());
    return true;
}

// Stand-ins for the window's dialogs, message boxes and beep.
struct TFakeDialogs : TDialogService {
    std::vector<std::string> Files;
    std::vector<std::string> OpenVideoFiles(bool) override { return Files; }
    std::string BrowseFolder(const std::string &) override { return {}; }
};
struct TFakeMessages : TMessageService {
    std::vector<std::pair<TMessageKind, std::string>> Shown;
    void ShowMessage(TMessageKind kind, const std::string &text) override { Shown.emplace_back(kind, text); }
};
struct TFakeBeep : TBeepService {
    int Count = 0;
    void Beep() override { ++Count; }
};

} // namespace

class PreviewWidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void stillPictureHidesTheSliderAndShowsItsPicture();
    void filesWithoutPositionsOrPictures();
    void shortFileKeepsTheSmallestStep();
    void markingTheClipEnablesTheCheckBoxOnlyForARange();
    void pictureMatchesThePositionAndADragIsCoalesced();
    void lastPositionShowsTheLastPicture();
    void previewerWindowFollowsTheConversionAndStaysClosed();
    void sampleAnalysisWritesExtFile();
    void sampleThatCannotServeLeavesExtFileAsItWas();
    void customFieldsTakeDigitsOnly();
};

// An image2 file: slider hidden, range 0 to 0, its one picture fitted into
// the preview with sky-blue margins left and right.
void PreviewWidgetsTest::stillPictureHidesTheSliderAndShowsItsPicture()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    group.show();
    QVERIFY(OpenInPreview(*component, group, "still.png"));
    TTrackBar *track = Child<TTrackBar>(&group, "trcPreview");
    QVERIFY(track->isHidden());
    QCOMPARE(track->minimum(), 0);
    QCOMPARE(track->maximum(), 0);
    QCOMPARE(group.Frame().size(), QSize(160, 120));
    // 160 x 120 into 220 x 145 spans the full height, 13 pixels off each side.
    const QImage &canvas = group.PictureBox()->Canvas();
    QCOMPARE(canvas.pixel(6, 72), TPreviewGroup::SkyBlue);
    QCOMPARE(canvas.pixel(220 - 7, 72), TPreviewGroup::SkyBlue);
    const QColor inside = canvas.pixelColor(110, 72);
    QVERIFY2(qAbs(inside.red() - 0x33) <= 3 && qAbs(inside.green() - 0x66) <= 3 &&
                 qAbs(inside.blue() - 0xCC) <= 3,
             qPrintable(inside.name()));
    QCOMPARE(Child<QLabel>(&group, "lblPTS")->text(), QString("PTS: 0.000"));
}

// A stream of unknown length shows its first picture with the slider
// hidden; a file without pictures shows the placeholder.
void PreviewWidgetsTest::filesWithoutPositionsOrPictures()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    const QImage placeholder = group.PictureBox()->Canvas().copy();
    QVERIFY(OpenInPreview(*component, group, "raw.h264"));
    QVERIFY(Child<TTrackBar>(&group, "trcPreview")->isHidden());
    QCOMPARE(group.Frame().size(), QSize(64, 48));
    QVERIFY(group.PictureBox()->Canvas() != placeholder);

    QVERIFY(OpenInPreview(*component, group, "tone.mp3"));
    QVERIFY(group.Frame().isNull());
    QCOMPARE(group.PictureBox()->Canvas(), placeholder);
}

void PreviewWidgetsTest::shortFileKeepsTheSmallestStep()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    QVERIFY(OpenInPreview(*component, group, "short.mp4"));
    QCOMPARE(group.Clip().PreviewStep(), int64_t(10));
    QCOMPARE(Child<TTrackBar>(&group, "trcPreview")->maximum(), 30000); // 300,000 us
    QVERIFY(!Child<TTrackBar>(&group, "trcPreview")->isHidden());
}

// The start and end buttons take the track bar's position; the check box is
// enabled exactly when the end is after the start (and at least 1); a new
// file drops the marks.
void PreviewWidgetsTest::markingTheClipEnablesTheCheckBoxOnlyForARange()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    group.show();
    QVERIFY(OpenInPreview(*component, group, "timer.mp4"));
    TTrackBar *track = Child<TTrackBar>(&group, "trcPreview");
    QCheckBox *cut = Child<QCheckBox>(&group, "chkCutClip");
    QCOMPARE(group.Clip().PreviewStep(), int64_t(1000)); // 4 s: 4000 positions
    QCOMPARE(track->maximum(), 4000);

    track->setValue(3000);
    QTest::mouseClick(Child<QPushButton>(&group, "btnStartTime"), Qt::LeftButton);
    track->setValue(1000);
    QTest::mouseClick(Child<QPushButton>(&group, "btnEndTime"), Qt::LeftButton);
    QCOMPARE(Child<QLineEdit>(&group, "edtStartTime")->text(), QString("3.000"));
    QCOMPARE(Child<QLineEdit>(&group, "edtEndTime")->text(), QString("1.000"));
    QVERIFY(!cut->isEnabled());

    track->setValue(0);
    QTest::mouseClick(Child<QPushButton>(&group, "btnStartTime"), Qt::LeftButton);
    track->setValue(1);
    QTest::mouseClick(Child<QPushButton>(&group, "btnEndTime"), Qt::LeftButton);
    QVERIFY(cut->isEnabled());
    QCOMPARE(track->SelStart(), 0);
    QCOMPARE(track->SelEnd(), 1);
    QVERIFY(!group.ClipActive()); // not checked yet
    QTest::mouseClick(cut, Qt::LeftButton);
    QVERIFY(group.ClipActive());
    QCOMPARE(group.ClipStartMs(), 0);
    QCOMPARE(group.ClipLengthMs(), 1);

    QVERIFY(OpenInPreview(*component, group, "timer.mp4"));
    QCOMPARE(track->SelEnd(), 0);
    QVERIFY(!group.ClipActive());
}

// The picture shown is the one at the track bar's time. Positions that
// arrive faster than pictures decode are coalesced: only the latest is
// decoded, and the position where the movement stops is exact. The arrow
// and page keys step by the line and page sizes.
void PreviewWidgetsTest::pictureMatchesThePositionAndADragIsCoalesced()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    group.show();
    QVERIFY(OpenInPreview(*component, group, "timer.mp4"));
    TTrackBar *track = Child<TTrackBar>(&group, "trcPreview");
    QCOMPARE(PictureNumber(group.Frame()), 0);

    // A drag from 0.5 s to 2.72 s, faster than any decode.
    const int64_t decodesBefore = group.Requests().Decodes();
    for (int position = 500; position <= 2720; position += 20) track->setValue(position);
    QTRY_VERIFY_WITH_TIMEOUT(group.Settled(), 10000);
    QCOMPARE(group.Requests().Decodes(), decodesBefore + 1);
    QCOMPARE(group.FrameTime(), int64_t(2720000));
    QCOMPARE(PictureNumber(group.Frame()), 68); // 2.72 s at 25 fps
    QCOMPARE(Child<QLabel>(&group, "lblPTS")->text(), QString("PTS: 2.720"));

    // 4000 positions: line size 100, page size 500.
    track->setFocus();
    const int64_t steps[][2] = {{Qt::Key_Right, 2820},  {Qt::Key_PageDown, 3320}, {Qt::Key_Left, 3220},
                                {Qt::Key_PageUp, 2720}, {Qt::Key_Home, 0},        {Qt::Key_Down, 100}};
    for (const auto &step : steps) {
        QTest::keyClick(track, Qt::Key(step[0]));
        QCOMPARE(int64_t(track->value()), step[1]);
    }
    // Between key frames: 1.04 s is picture 26, not the key frame at 2 s.
    track->setValue(1040);
    QTRY_VERIFY_WITH_TIMEOUT(group.Settled(), 10000);
    QCOMPARE(PictureNumber(group.Frame()), 26);
}

// At the last position the picture is the one at the file's duration (the
// last picture), while the label shows the maximum times the step.
void PreviewWidgetsTest::lastPositionShowsTheLastPicture()
{
    auto component = LoadedComponent();
    QVERIFY(component);
    ClipRange clip;
    TPreviewGroup group(clip);
    QVERIFY(OpenInPreview(*component, group, "timer.mp4"));
    TTrackBar *track = Child<TTrackBar>(&group, "trcPreview");
    track->setValue(track->maximum());
    QTRY_VERIFY_WITH_TIMEOUT(group.Settled(), 10000);
    TFileStreamInfo info;
    component->Probe().GetFileStreamInfo(info);
    QCOMPARE(group.FrameTime(), info.Duration);
    QCOMPARE(Child<QLabel>(&group, "lblPTS")->text(),
             QString::fromStdString("PTS: " +
                                    FormatSeconds(int64_t(track->maximum()) * group.Clip().PreviewStep())));
    QCOMPARE(PictureNumber(group.Frame()), 99);
}

// With "转换时预览" ticked (the component's Preview switch), a conversion shows its pictures in
// an always-on-top tool window titled with the picture's time. Closed by the
// user, it stays closed: the engine turns the task's previewer off while the
// conversion goes on, and the conversion ends normally.
void PreviewWidgetsTest::previewerWindowFollowsTheConversionAndStaysClosed()
{
    InstallPreviewerWindow();
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    TZUzidiDOR component;
    QVERIFY2(component.LoadMediaLibraries(Wide(std::string(VIDMORPH_LIBAV_DIR))),
             component.LastError().c_str());
    std::atomic<bool> ended{false};
    std::atomic<bool> finished{false};
    component.OnTerminate = [&](int32_t index, bool aFinished, bool, const std::string &) {
        if (index >= 0) finished = aFinished;
        if (index < 0) ended = true;
    };

    // At the input's own pace, so that the 2 s conversion is still going when
    // the window is closed.
    TInputOptions input;
    InitInputOptions(input);
    input.ExtOptions = "re=1";
    const int32_t task = component.AddTask(Wide(MediaFixture("clip.mp4")), &input);
    QVERIFY2(task >= 0, component.LastError().c_str());
    TOutputOptions output;
    InitOutputOptions(output);
    output.VideoCodec = "mpeg4"; // no look-ahead: pictures come out as they go in
    QVERIFY2(component.SetOutput(task, Wide(folder.filePath("out.mp4")), &output),
             component.LastError().c_str());
    // The check box "转换时预览": off by default, remembered in config.ini,
    // and it sets the component's switch.
    const std::string programFolder = folder.path().toStdString() + "/";
    AppSettings settings(programFolder, programFolder);
    {
        TConvertPreviewBox box(settings, component);
        QCOMPARE(box.text(), QString("转换时预览"));
        QVERIFY(!box.isChecked());
        QVERIFY(!component.Preview());
        box.click();
        QVERIFY(component.Preview());
    }
    QVERIFY(settings.ReadBool("preview", "convertpreview", false));
    component.SetPreview(false);
    TConvertPreviewBox box(settings, component);
    QVERIFY(box.isChecked());
    QVERIFY(component.Preview());
    const int createdBefore = TPreviewerWidget::CreatedCount();
    component.StartConvert(1);

    QTRY_VERIFY_WITH_TIMEOUT(!PreviewerWindows().isEmpty() && PreviewerWindows().front()->isVisible(), 15000);
    TPreviewerWidget *window = PreviewerWindows().front();
    QVERIFY(window->windowFlags().testFlag(Qt::WindowStaysOnTopHint));
    QCOMPARE(window->windowType(), Qt::Tool);
    QCOMPARE(window->size(), QSize(160, 120)); // sized to the picture
    QVERIFY2(QRegularExpression("^\\d\\d:\\d\\d:\\d\\d\\.\\d\\d\\d$").match(window->windowTitle()).hasMatch(),
             qPrintable(window->windowTitle()));
    QVERIFY(!window->Picture().isNull());

    bool goneWhileConverting = false;
    connect(window, &QObject::destroyed, this, [&] { goneWhileConverting = !ended; });
    QVERIFY(!ended);
    window->close();
    QVERIFY(!window->isVisible());
    // The engine's next picture learns of the close and drops the previewer,
    // whose window goes, long before the conversion ends.
    QTRY_VERIFY_WITH_TIMEOUT(PreviewerWindows().isEmpty(), 15000);
    QTRY_VERIFY_WITH_TIMEOUT(ended, 30000);
    QVERIFY(goneWhileConverting);
    QVERIFY(finished);
    QCOMPARE(TPreviewerWidget::CreatedCount(), createdBefore + 1);
    QVERIFY(QFileInfo(folder.filePath("out.mp4")).size() > 0);
}

// "分析视频文件" on a 640x480 25 fps sample with AAC sound: the format
// message, extfile.ini as the sample tab reads it, and the summary lines.
void PreviewWidgetsTest::sampleAnalysisWritesExtFile()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string programFolder = folder.path().toStdString() + "/";
    ProfileStore store(programFolder);
    TFakeDialogs dialogs;
    TFakeMessages messages;
    TSampleTab tab(store, dialogs, messages);
    QCOMPARE(Child<QPushButton>(&tab, "sSpeedButton4")->text(), QString("分析视频文件"));
    TSummaryLines summary;
    connect(&tab, &TSampleTab::SummaryChanged, this, [&](const TSummaryLines &lines) { summary = lines; });

    // Cancelled: nothing happens.
    QTest::mouseClick(Child<QPushButton>(&tab, "sSpeedButton4"), Qt::LeftButton);
    QVERIFY(messages.Shown.empty());
    QVERIFY(!QFileInfo::exists(folder.filePath("extfile.ini")));

    dialogs.Files = {MediaFixture("sample-640x480.mp4")};
    QTest::mouseClick(Child<QPushButton>(&tab, "sSpeedButton4"), Qt::LeftButton);
    QCOMPARE(messages.Shown.size(), size_t(1));
    QCOMPARE(messages.Shown[0].first, mkInformation);
    QCOMPARE(QString::fromStdString(messages.Shown[0].second), QString("您选择的视频格式为 .mp4"));
    TIniFile ext(programFolder + "extfile.ini");
    QCOMPARE(ext.ReadString("mediatype", "Type", ""), std::string("mp4"));
    QCOMPARE(ext.ReadInteger("video", "Width", 0), 640);
    QCOMPARE(ext.ReadInteger("video", "Height", 0), 480);
    QCOMPARE(ext.ReadInteger("video", "FPS", 0), 25);
    // The audio codec as the media-information reader names it ("AAC LC" here).
    const std::string audio = ext.ReadString("audio", "AudioCodec", "");
    QVERIFY2(audio.rfind("AAC", 0) == 0, audio.c_str());
    const TExtFileValues values = store.ReadExtFile();
    QCOMPARE(values.Width + "x" + values.Height, std::string("640x480"));
    QCOMPARE(values.FPS, 25);
    QCOMPARE(QString::fromStdString(summary.PictureSize), QString("视频像素：640X480"));
    QCOMPARE(QString::fromStdString(summary.FrameRate), QString("帧速率：25"));
    QCOMPARE(summary.AudioCodec, "音频编码：" + audio);
}

// A file the reader cannot read, and one without pictures: a clear message
// each, and extfile.ini keeps the sample analysed before.
void PreviewWidgetsTest::sampleThatCannotServeLeavesExtFileAsItWas()
{
    QTemporaryDir folder;
    QVERIFY(folder.isValid());
    const std::string programFolder = folder.path().toStdString() + "/";
    ProfileStore store(programFolder);
    TFakeDialogs dialogs;
    TFakeMessages messages;
    TSampleTab tab(store, dialogs, messages);
    dialogs.Files = {MediaFixture("sample-640x480.mp4")};
    QVERIFY(tab.AnalyseSampleFile());
    const QByteArray before = [&] {
        QFile file(folder.filePath("extfile.ini"));
        return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
    }();
    QVERIFY(!before.isEmpty());
    int summaries = 0;
    connect(&tab, &TSampleTab::SummaryChanged, this, [&] { ++summaries; });

    const QString junk = folder.filePath("junk.avi");
    {
        QFile file(junk);
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.write("not a video at all");
    }
    for (const std::string &path : {junk.toStdString(), MediaFixture("tone.mp3")}) {
        messages.Shown.clear();
        dialogs.Files = {path};
        QVERIFY(!tab.AnalyseSampleFile());
        QVERIFY(!messages.Shown.empty());
        QCOMPARE(messages.Shown.back().first, mkError);
        QVERIFY(!messages.Shown.back().second.empty());
        QFile file(folder.filePath("extfile.ini"));
        QVERIFY(file.open(QIODevice::ReadOnly));
        QCOMPARE(file.readAll(), before);
    }
    QCOMPARE(summaries, 0);
}

// The four custom edits: a letter beeps and changes nothing, backspace and
// digits work, a fifth digit does not fit the width; the panel opens over
// the tab and a reset brings the defaults back.
void PreviewWidgetsTest::customFieldsTakeDigitsOnly()
{
    TFakeBeep beep;
    CustomProfile profile;
    TCustomTab tab(profile, beep);
    tab.resize(395, 170);
    tab.show();
    QVERIFY(QTest::qWaitForWindowExposed(&tab));
    QWidget *panel = Child<QWidget>(&tab, "sPanel3");
    QVERIFY(panel->isHidden());
    QVERIFY(!tab.Profile().PanelOpen);
    QTest::mouseClick(Child<QPushButton>(&tab, "sSpeedButton5"), Qt::LeftButton);
    QVERIFY(panel->isVisible());
    QCOMPARE(panel->geometry(), tab.rect());
    QVERIFY(tab.Profile().PanelOpen);

    QLineEdit *width = Child<QLineEdit>(&tab, "sEdit1");
    QCOMPARE(width->text(), QString("220"));
    QCOMPARE(Child<QLineEdit>(&tab, "sEdit2")->text(), QString("176"));
    QCOMPARE(Child<QLineEdit>(&tab, "sEdit3")->text(), QString("38400"));
    QCOMPARE(Child<QLineEdit>(&tab, "sEdit4")->text(), QString("15"));
    width->setFocus();
    width->end(false);
    QTest::keyClick(width, Qt::Key_A);
    QCOMPARE(width->text(), QString("220"));
    QCOMPARE(beep.Count, 1);
    QTest::keyClick(width, Qt::Key_Backspace);
    QCOMPARE(width->text(), QString("22"));
    QTest::keyClicks(width, "45");
    QCOMPARE(width->text(), QString("2245")); // four characters at most
    QTest::keyClick(width, Qt::Key_6);
    QCOMPARE(width->text(), QString("2245"));
    QCOMPARE(tab.Profile().Width, std::string("2245"));
    QCOMPARE(beep.Count, 1);
    QLineEdit *fps = Child<QLineEdit>(&tab, "sEdit4");
    fps->setFocus();
    QTest::keyClick(fps, Qt::Key_Minus);
    QCOMPARE(beep.Count, 2);
    QCOMPARE(fps->text(), QString("15"));

    Child<QComboBox>(&tab, "sComboBoxEx5")->setCurrentIndex(7);
    QCOMPARE(tab.Profile().TypeIndex, 7);
    tab.Reset();
    QVERIFY(panel->isHidden());
    QCOMPARE(width->text(), QString("220"));
    QCOMPARE(tab.Profile().Width, std::string("220"));
    QCOMPARE(tab.Profile().TypeIndex, 0);
    QVERIFY(!tab.Profile().PanelOpen);
}

QTEST_MAIN(PreviewWidgetsTest)
#include "PreviewWidgetsTest.moc"
