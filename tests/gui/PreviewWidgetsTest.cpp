// The frame preview, the sample and custom tabs and the conversion
// previewer window, offscreen. Waits are on conditions with deadlines.
#include <QApplication>
#include <QFileInfo>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QTest>

#include <atomic>

#include "MediaFixtures.h"
#include "PreviewerWindow.h"
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

} // namespace

class PreviewWidgetsTest : public QObject {
    Q_OBJECT
private slots:
    void previewerWindowFollowsTheConversionAndStaysClosed();
};

// With the component's Preview switch on, a conversion shows its pictures in
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
    QVERIFY2(component.SetOutput(task, Wide(folder.filePath("out.mp4")), &output),
             component.LastError().c_str());
    component.SetPreview(true);
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

QTEST_MAIN(PreviewWidgetsTest)
#include "PreviewWidgetsTest.moc"
