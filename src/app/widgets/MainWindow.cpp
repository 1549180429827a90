#include "MainWindow.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGroupBox>
#include <QHeaderView>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QMenuBar>
#include <QPushButton>
#include <QTabBar>
#include <QTabWidget>
#include <QToolButton>
#include <QTreeWidget>

#include "Icons.h"

namespace {

const char *const FormatItemTexts[9] = {"3GP  (适合手机播放)",
                                        "MP4  (适合手机,MP4播放器,PSP等)",
                                        "AVI (适合电脑和部分手机 MP4播放器)",
                                        "MPEG  (VCD、DVD播放机)",
                                        "WMV (适合电脑部分MP4播放器播放)",
                                        "RM  (适合电脑播放)",
                                        "MOV  (适合电脑播放)",
                                        "MKV  (适合电脑播放)",
                                        "FLV  (适合电脑播放)"};
const char *const TabCaptions[4] = {"按预置方案", "按设备类型", "按已有视频", "自己定义"};
const char *const InitialSummary[5] = {"视频像素：352 X 288", "视频编码：H263", "视频码率：128Kbps",
                                       "帧速率：15fps", "音频编码：AAC"};

QLabel *MakeLabel(QWidget *parent, const QString &text, const QRect &geometry, const char *name = nullptr)
{
    auto *label = new QLabel(text, parent);
    label->setGeometry(geometry);
    if (name) label->setObjectName(name);
    return label;
}

} // namespace

TForm1::TForm1(QWidget *parent) : QMainWindow(parent)
{
    setObjectName("TForm1");
    setWindowTitle("VidmorphV1.4");
    // Fixed border: system menu, minimise and close, no maximise, no resizing.
    setWindowFlags(Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                   Qt::WindowMinimizeButtonHint | Qt::WindowCloseButtonHint);

    auto *client = new QWidget(this);
    client->setObjectName("ClientArea");
    client->setFixedSize(MainClientWidth, MainClientHeight);
    setCentralWidget(client);

    BuildMenu();
    BuildSourceArea(client);
    BuildOutputSettings(client);
    BuildOutputFolder(client);

    FPreviewGroup = new QGroupBox("视频预览窗口", client);
    FPreviewGroup->setObjectName("grpPreview");
    FPreviewGroup->setGeometry(430, -1, 234, 295);

    BuildRunControl(client);
    layout()->setSizeConstraint(QLayout::SetFixedSize);
}

TForm1::~TForm1() = default;

QWidget *TForm1::SettingsPage(int index) const { return FTabs->widget(index); }

void TForm1::BuildMenu()
{
    QMenu *file = menuBar()->addMenu("文件");
    file->setObjectName("mnuFile");
    QAction *exit = file->addAction("退出");
    exit->setObjectName("actExit");
    connect(exit, &QAction::triggered, this, &QWidget::close);

    QMenu *help = menuBar()->addMenu("帮助");
    help->setObjectName("mnuHelp");
    QAction *about = help->addAction("关于");
    about->setObjectName("actAbout");
}

void TForm1::BuildSourceArea(QWidget *client)
{
    FList = new QTreeWidget(client);
    FList->setObjectName("sListView1");
    FList->setGeometry(12, 1, 409, 181);
    FList->setRootIsDecorated(false);
    FList->setUniformRowHeights(true);
    FList->setSelectionMode(QAbstractItemView::SingleSelection);
    FList->setSelectionBehavior(QAbstractItemView::SelectRows);
    FList->setEditTriggers(QAbstractItemView::NoEditTriggers);
    FList->setColumnCount(5);
    FList->setHeaderLabels({"文件名", "类型", "分辨率", "时长", "进度"});
    const int widths[5] = {155, 50, 70, 60, 50};
    for (int i = 0; i < 5; ++i) FList->setColumnWidth(i, widths[i]);
    FList->header()->setStretchLastSection(false);
    FList->header()->setSectionsMovable(false);
    for (int i = 1; i < 5; ++i) FList->headerItem()->setTextAlignment(i, Qt::AlignCenter);

    FAdd = new QPushButton("添加", client);
    FAdd->setObjectName("sSpeedButton1");
    FAdd->setGeometry(12, 188, 60, 22);
    FDelete = new QPushButton("删除", client);
    FDelete->setObjectName("sSpeedButton2");
    FDelete->setGeometry(78, 188, 60, 22);
    FClear = new QPushButton("清空", client);
    FClear->setObjectName("sSpeedButton3");
    FClear->setGeometry(144, 188, 60, 22);
    for (QPushButton *b : {FAdd, FDelete, FClear}) b->hide();

    // The large add panel lies over the list until the first file is added.
    FAddPanel = new QFrame(client);
    FAddPanel->setObjectName("pnlAdd");
    FAddPanel->setGeometry(11, 1, 411, 201);
    FAddPanel->setFrameShape(QFrame::StyledPanel);
    FAddPanel->setAutoFillBackground(true);
    FAddLarge = new QToolButton(FAddPanel);
    FAddLarge->setObjectName("sSpeedButton7");
    FAddLarge->setGeometry(115, 50, 180, 100);
    FAddLarge->setText("添加待转视频文件");
    FAddLarge->setToolTip("添加待转视频文件");
    FAddLarge->setIcon(QIcon(AddPicture()));
    FAddLarge->setIconSize(QSize(32, 32));
    FAddLarge->setAutoRaise(false);
    FAddLarge->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    FAddPanel->raise();
}

void TForm1::BuildOutputSettings(QWidget *client)
{
    FSettingsGroup = new QGroupBox("输出设置：", client);
    FSettingsGroup->setObjectName("grpOutputSettings");
    FSettingsGroup->setGeometry(11, 212, 413, 225);

    FTabs = new QTabWidget(FSettingsGroup);
    FTabs->setObjectName("tabSettings");
    FTabs->setGeometry(6, 18, 401, 201);
    FTabs->setIconSize(QSize(16, 16));
    // Four captions with icons fit the control's width without scroll arrows.
    FTabs->tabBar()->setStyleSheet("QTabBar::tab { padding: 4px 3px 4px 3px; }");
    FTabs->setUsesScrollButtons(false);
    for (int i = 0; i < 4; ++i) {
        auto *page = new QWidget;
        page->setObjectName(QString("tabPage%1").arg(i));
        FTabs->addTab(page, TabIcon(i), TabCaptions[i]);
    }

    // Tab 0: format and preset; tab 1: brand and model at the same places.
    QWidget *format = FTabs->widget(0);
    MakeLabel(format, "文件类型:", QRect(10, 14, 66, 20));
    FFormatList = new QComboBox(format);
    FFormatList->setObjectName("sComboBoxEx1");
    FFormatList->setGeometry(80, 12, 300, 24);
    FFormatList->setToolTip("选择文件类型方案");
    MakeLabel(format, "预置方案:", QRect(10, 48, 66, 20));
    FPresetList = new QComboBox(format);
    FPresetList->setObjectName("sComboBoxEx2");
    FPresetList->setGeometry(80, 46, 300, 24);
    FPresetList->setToolTip("选择预置方案");

    QWidget *device = FTabs->widget(1);
    MakeLabel(device, "设备品牌:", QRect(10, 14, 66, 20));
    FBrandList = new QComboBox(device);
    FBrandList->setObjectName("sComboBoxEx3");
    FBrandList->setGeometry(80, 12, 300, 24);
    FBrandList->setToolTip("选择设备类型");
    MakeLabel(device, "设备型号:", QRect(10, 48, 66, 20));
    FModelList = new QComboBox(device);
    FModelList->setObjectName("sComboBoxEx4");
    FModelList->setGeometry(80, 46, 300, 24);
    FModelList->setToolTip("选择预置方案");
    for (QComboBox *box : {FFormatList, FPresetList, FBrandList, FModelList}) box->setIconSize(QSize(16, 16));
    for (int i = 0; i < 9; ++i) FFormatList->addItem(ComboIcon(i), FormatItemTexts[i]);

    // The five summary lines: one set, moved onto whichever tab is shown.
    FSummary = new QWidget(format);
    FSummary->setObjectName("pnlSummary");
    FSummary->setGeometry(0, 96, 396, 48);
    const QRect places[5] = {QRect(10, 0, 136, 18), QRect(148, 0, 120, 18), QRect(270, 0, 124, 18),
                             QRect(10, 26, 136, 18), QRect(148, 26, 246, 18)};
    for (int i = 0; i < 5; ++i)
        FSummaryLines[i] = MakeLabel(FSummary, InitialSummary[i], places[i],
                                     QString("lblSummary%1").arg(i + 1).toUtf8().constData());

    connect(FTabs, &QTabWidget::currentChanged, this, &TForm1::ShowTab);
    ShowTab(0);
}

void TForm1::BuildOutputFolder(QWidget *client)
{
    MakeLabel(client, "输出目录：", QRect(12, 446, 72, 20));
    FOutputFolder = new QLineEdit(client);
    FOutputFolder->setObjectName("sComboEdit1");
    FOutputFolder->setGeometry(85, 444, 303, 23);
    FOutputFolder->setToolTip("视频输出目录");
    // The field's own button, inside its right edge.
    FBrowseFolder = new QToolButton(FOutputFolder);
    FBrowseFolder->setObjectName("sComboEdit1Button");
    FBrowseFolder->setIcon(BrowseFolderIcon());
    FBrowseFolder->setToolTip("另外指定输出目录");
    FBrowseFolder->setCursor(Qt::ArrowCursor);
    FBrowseFolder->setAutoRaise(true);
    FBrowseFolder->setGeometry(303 - 22, 1, 21, 21);
    FOutputFolder->setTextMargins(0, 0, 22, 0);

    FOpenFolder = new QToolButton(client);
    FOpenFolder->setObjectName("sSpeedButton6");
    FOpenFolder->setGeometry(392, 444, 26, 23);
    FOpenFolder->setIcon(OpenFolderIcon());
    FOpenFolder->setToolTip("打开目录");
}

void TForm1::BuildRunControl(QWidget *client)
{
    FRunPanel = new QFrame(client);
    FRunPanel->setObjectName("pnlRunControl");
    FRunPanel->setGeometry(433, 334, 239, 102);
    FRunPanel->setFrameShape(QFrame::StyledPanel);
    // Several handlers move the keyboard focus here, so that no list keeps it.
    FRunPanel->setFocusPolicy(Qt::StrongFocus);

    FStart = new QToolButton(FRunPanel);
    FStart->setObjectName("btnStart");
    FStart->setText("开始");
    FStart->setIcon(QIcon(StartPicture()));
    FStart->setIconSize(QSize(32, 32));
    FStart->setToolButtonStyle(Qt::ToolButtonTextUnderIcon);
    FStart->setGeometry(8, 8, 86, 86);

    FPause = new QPushButton(PauseIcon(), "暂停", FRunPanel);
    FPause->setObjectName("btnPause");
    FPause->setGeometry(102, 8, 128, 26);
    FResume = new QPushButton(ResumeIcon(), "继续", FRunPanel);
    FResume->setObjectName("btnResume");
    FResume->setGeometry(102, 38, 128, 26);
    FStop = new QPushButton(StopIcon(), "停止", FRunPanel);
    FStop->setObjectName("btnStop");
    FStop->setGeometry(102, 68, 128, 26);
    for (QPushButton *b : {FPause, FResume, FStop}) b->setEnabled(false);

    FShutdown = new QCheckBox("转换完成自动关机", client);
    FShutdown->setObjectName("sCheckBox1");
    FShutdown->setGeometry(435, 446, 200, 20);
}

void TForm1::ShowTab(int index)
{
    if (index < 0) return;
    FSummary->setParent(FTabs->widget(index));
    FSummary->move(0, 96);
    FSummary->show();
    UpdateTabIcons();
}

void TForm1::UpdateTabIcons()
{
    for (int i = 0; i < FTabs->count(); ++i)
        FTabs->setTabIcon(i, TabIcon(i == FTabs->currentIndex() ? 4 + i : i));
}
