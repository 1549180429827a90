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

#include <QApplication>
#include <QCloseEvent>
#include <QFile>
#include <QFileInfo>
#include <QScreen>
#include <QTimer>
#include <QUrl>

#include <chrono>
#include <thread>

#include "AboutWindow.h"
#include "ComponentBridge.h"
#include "Icons.h"
#include "PowerOffCountdown.h"
#include "TextCodec.h"
#include "ZUzidiDOR.h"

namespace {

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

TForm1::TForm1(const TMainWindowSetup &setup, QWidget *parent)
    : QMainWindow(parent), FSetup(setup), FSettings(setup.ProgramFolder, setup.VideosFolder),
      FStore(setup.ProgramFolder), FSummaryTexts(InitialSummaryLines())
{
    setObjectName("TForm1");
    setWindowTitle(QString::fromUtf8(MainWindowCaption));
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
    FAddPanel->raise();
    layout()->setSizeConstraint(QLayout::SetFixedSize);

    // The large add button keeps its own font only under the default skin.
    if (FSettings.SkinName() == "Topaz") {
        QFont font = FAddLarge->font();
        font.setPixelSize(12);
        FAddLarge->setFont(font);
        FAddLarge->setStyleSheet("color: teal;");
    }

    FAssembly = std::make_unique<OutputAssembly>(FStore, FSources, *FSetup.Messages);
    FComponent = std::make_unique<TZUzidiDOR>();
    FBridge = new TComponentBridge(*FComponent, this);
    connect(FBridge, &TComponentBridge::Progress, this, &TForm1::OnProgress);
    connect(FBridge, &TComponentBridge::Terminate, this, &TForm1::OnTerminate);

    // The output folder: the remembered one, or the default written back.
    FRememberedFolder = FSettings.ReadOutputFolder();
    std::string message;
    if (!AppSettings::EnsureOutputFolder(FRememberedFolder, message))
        FSetup.Messages->ShowMessage(mkError, message);
    FOutputFolder->setText(QString::fromStdString(FRememberedFolder));

    // A failure is not reported here: adding files tries again and says why.
    FComponent->LoadMediaLibraries(Utf8ToUtf16(FSetup.LibraryFolder));
    ApplyButtons();
}

TForm1::~TForm1()
{
    FBridge->Detach();
    if (FRunActive) {
        // Closed before the run could end: stop it, give the tasks a moment
        // to report their end, and keep only what finished.
        FComponent->StopConvert();
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(3);
        for (TFFmpeg *task : FComponent->Tasks().Items()) {
            while (!task->Terminated && task->Running && std::chrono::steady_clock::now() < deadline)
                std::this_thread::sleep_for(std::chrono::milliseconds(10));
            const int32_t index = task->TaskIndex;
            if (index >= 0 && index < int32_t(FTaskOutputs.size()) && task->Terminated && task->Finished)
                FTaskOutputs[index].Finished = true;
        }
    }
    // Destroying the component stops whatever still runs and waits for it.
    FComponent.reset();
    if (FRunActive) RemoveAllUnfinishedOutputs();
}

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
    connect(about, &QAction::triggered, this, &TForm1::AboutClicked);
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
    connect(FAdd, &QPushButton::clicked, this, &TForm1::AddClicked);
    connect(FDelete, &QPushButton::clicked, this, &TForm1::DeleteClicked);
    connect(FClear, &QPushButton::clicked, this, &TForm1::ClearClicked);
    connect(FList, &QTreeWidget::itemSelectionChanged, this, &TForm1::RowSelected);

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
    connect(FAddLarge, &QToolButton::clicked, this, &TForm1::AddClicked);
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
    for (int i = 0; i < 9; ++i) FFormatList->addItem(ComboIcon(i), QString::fromUtf8(FormatItems[i]));

    // The five summary lines: one set, moved onto whichever tab is shown.
    FSummary = new QWidget(format);
    FSummary->setObjectName("pnlSummary");
    FSummary->setGeometry(0, 96, 396, 48);
    const QRect places[5] = {QRect(10, 0, 136, 18), QRect(148, 0, 120, 18), QRect(270, 0, 124, 18),
                             QRect(10, 26, 136, 18), QRect(148, 26, 246, 18)};
    for (int i = 0; i < 5; ++i)
        FSummaryLines[i] = MakeLabel(FSummary, QString(), places[i],
                                     QString("lblSummary%1").arg(i + 1).toUtf8().constData());

    UpdateSummaryLabels();
    FTabs->setCurrentIndex(0);
    connect(FTabs, &QTabWidget::currentChanged, this, &TForm1::TabChanged);
    UpdateTabIcons();

    // A user's selection marks its tab before the change handling runs, so
    // that the load it triggers remembers the choice; the program's own
    // selections go straight to the handlers and remember nothing.
    connect(FFormatList, &QComboBox::activated, this, &TForm1::FormatSelectionByUser);
    connect(FPresetList, &QComboBox::activated, this, [this] {
        FFormatUserChanged = true;
        LoadFormatPreset();
    });
    connect(FBrandList, &QComboBox::activated, this, [this] {
        FDeviceUserChanged = true;
        BrandChanged();
    });
    connect(FModelList, &QComboBox::activated, this, [this] {
        FDeviceUserChanged = true;
        LoadDeviceModel();
    });
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
    connect(FBrowseFolder, &QToolButton::clicked, this, &TForm1::BrowseFolderClicked);

    FOpenFolder = new QToolButton(client);
    FOpenFolder->setObjectName("sSpeedButton6");
    FOpenFolder->setGeometry(392, 444, 26, 23);
    FOpenFolder->setIcon(OpenFolderIcon());
    FOpenFolder->setToolTip("打开目录");
    connect(FOpenFolder, &QToolButton::clicked, this, &TForm1::OpenFolderClicked);
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
    connect(FShutdown, &QCheckBox::clicked, this, &TForm1::FocusRunPanel);

    connect(FStart, &QToolButton::clicked, this, &TForm1::StartClicked);
    connect(FPause, &QPushButton::clicked, this, &TForm1::PauseClicked);
    connect(FResume, &QPushButton::clicked, this, &TForm1::ResumeClicked);
    connect(FStop, &QPushButton::clicked, this, &TForm1::StopClicked);
}

// ---- Showing, closing --------------------------------------------------

void TForm1::showEvent(QShowEvent *event)
{
    QMainWindow::showEvent(event);
    if (!FShownOnce) {
        FShownOnce = true;
        if (QScreen *screen = this->screen()) {
            QRect frame = frameGeometry();
            frame.moveCenter(screen->availableGeometry().center());
            move(frame.topLeft());
        }
        StartupRestore();
    }
    FCustom.Reset();
    if (FPreviewHost) FPreviewHost->ResetCustomTab();
}

void TForm1::closeEvent(QCloseEvent *event)
{
    if (FCloseNow || !FRunActive) {
        QMainWindow::closeEvent(event);
        if (event->isAccepted()) emit Closed();
        return;
    }
    // A run is going: stop it and close when the queue has ended (or,
    // failing that, after the grace time, when the destructor stops what
    // is left). Stopped tasks' outputs are removed.
    event->ignore();
    if (FClosing) return;
    FClosing = true;
    if (FCountdown) FCountdown->reject();
    hide();
    FComponent->StopConvert();
    QTimer::singleShot(FSetup.CloseGraceMs, this, &TForm1::ForceClose);
}

void TForm1::ForceClose()
{
    if (FCloseNow) return;
    FCloseNow = true;
    close();
}

// ---- Settings and profiles ---------------------------------------------

void TForm1::StartupRestore()
{
    const TSelectionMemory memory = FSettings.ReadSelection();

    FFormatList->setCurrentIndex(ProfileStore::ValidPosition(memory.ComboBox1, FormatItemCount));
    FormatChanged();
    {
        const QSignalBlocker block(FPresetList);
        FPresetList->setCurrentIndex(ProfileStore::ValidPosition(memory.ComboBox2, FPresetList->count()));
    }

    FStore.FillBrands();
    {
        const QSignalBlocker block(FBrandList);
        FBrandList->clear();
        for (const std::string &name : FStore.BrandNames())
            FBrandList->addItem(ComboIcon(9), QString::fromStdString(name));
        FBrandList->setCurrentIndex(ProfileStore::ValidPosition(memory.ComboBox3, FBrandList->count()));
    }
    BrandChanged();
    {
        const QSignalBlocker block(FModelList);
        FModelList->setCurrentIndex(ProfileStore::ValidPosition(memory.ComboBox4, FModelList->count()));
    }

    const int tab = memory.TabIndex >= 0 && memory.TabIndex < FTabs->count() ? memory.TabIndex : 0;
    {
        const QSignalBlocker block(FTabs);
        FTabs->setCurrentIndex(tab);
    }
    TabChanged(tab);
}

void TForm1::FormatSelectionByUser()
{
    FFormatUserChanged = true;
    FormatChanged();
}

void TForm1::FormatChanged()
{
    FocusRunPanel();
    FStore.ChangeFormat(FFormatList->currentIndex());
    {
        const QSignalBlocker block(FPresetList);
        FPresetList->clear();
        for (const std::string &name : FStore.PresetNames())
            FPresetList->addItem(ComboIcon(9), QString::fromStdString(name));
        FPresetList->setCurrentIndex(0);
    }
    if (FPresetList->count() > 0) LoadFormatPreset();
}

void TForm1::LoadFormatPreset()
{
    profile_rec profile;
    const int position = FPresetList->currentIndex();
    if (FStore.LoadFormatPreset(position, profile)) {
        ShowProfileSummary(profile, stFormat, FSummaryTexts);
        UpdateSummaryLabels();
        if (FFormatUserChanged) FSettings.WriteFormatSelection(FFormatList->currentIndex(), position);
    }
    FFormatUserChanged = false;
    FocusRunPanel();
}

void TForm1::BrandChanged()
{
    FocusRunPanel();
    FStore.ChangeBrand(FBrandList->currentIndex());
    {
        const QSignalBlocker block(FModelList);
        FModelList->clear();
        for (const std::string &name : FStore.ModelNames())
            FModelList->addItem(ComboIcon(9), QString::fromStdString(name));
        FModelList->setCurrentIndex(0);
    }
    if (FModelList->count() > 0) LoadDeviceModel();
}

void TForm1::LoadDeviceModel()
{
    profile_rec profile;
    const int position = FModelList->currentIndex();
    if (FStore.LoadDeviceModel(position, profile)) {
        ShowProfileSummary(profile, stDevice, FSummaryTexts);
        UpdateSummaryLabels();
        if (FDeviceUserChanged) FSettings.WriteDeviceSelection(FBrandList->currentIndex(), position);
    }
    FDeviceUserChanged = false;
    FocusRunPanel();
}

void TForm1::TabChanged(int index)
{
    if (index < 0) return;
    FSettings.WriteTabIndex(index);
    FCustom.PanelOpen = false;
    if (FPreviewHost) FPreviewHost->SettingsTabChanged(index);
    if (index == 0) LoadFormatPreset();
    if (index == 1) LoadDeviceModel();
    // The summary lines move onto the tab shown.
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

void TForm1::ShowSummary(const TSummaryLines &lines)
{
    FSummaryTexts = lines;
    UpdateSummaryLabels();
}

void TForm1::UpdateSummaryLabels()
{
    for (int i = 0; i < 5; ++i) FSummaryLines[i]->setText(QString::fromStdString(FSummaryTexts.Line(i + 1)));
}

void TForm1::FocusRunPanel() { FRunPanel->setFocus(Qt::OtherFocusReason); }

// ---- The source list ---------------------------------------------------

bool TForm1::EnsureLibraries()
{
    if (FComponent->MediaLibrariesLoaded()) return true;
    if (FComponent->LoadMediaLibraries(Utf8ToUtf16(FSetup.LibraryFolder))) return true;
    FSetup.Messages->ShowMessage(mkError, "无法加载媒体库：" + FComponent->LastError());
    return false;
}

void TForm1::AddClicked()
{
    if (FRunActive || !EnsureLibraries()) return;
    const std::vector<std::string> files = FSetup.Dialogs->OpenVideoFiles(true);
    if (!files.empty()) AddFiles(files);
}

void TForm1::AddFiles(const std::vector<std::string> &paths)
{
    if (FRunActive || !EnsureLibraries()) return;
    for (const std::string &path : paths) {
        if (FSources.Contains(path)) continue;
        // A file the probe cannot open is left out.
        if (!FComponent->Probe().OpenFile(Utf8ToUtf16(path))) continue;
        if (!FSources.Add(path, ReadSourceInfo(path))) continue;
        const TSourceRow &row = FSources.Row(FSources.Count() - 1);
        auto *item = new QTreeWidgetItem(FList);
        const std::string texts[5] = {row.Name, row.Type, row.Resolution, row.Duration, row.Progress};
        for (int column = 0; column < 5; ++column) {
            item->setText(column, QString::fromStdString(texts[column]));
            item->setTextAlignment(column,
                                   (column == 0 ? Qt::AlignLeft : Qt::AlignHCenter) | Qt::AlignVCenter);
        }
        FList->repaint();
        if (FPreviewHost) FPreviewHost->OpenPreview(FComponent->Probe());
    }
    if (FSources.Count() > 0) ShowAddButtons();
}

void TForm1::ShowAddButtons()
{
    FAddPanel->hide();
    for (QPushButton *button : {FAdd, FDelete, FClear}) button->show();
}

void TForm1::DeleteClicked()
{
    QTreeWidgetItem *item = FList->currentItem();
    if (!item || !item->isSelected()) {
        FSetup.Messages->ShowMessage(mkPlain, "请先选择一个视频文件进行删除！");
        return;
    }
    const int row = FList->indexOfTopLevelItem(item);
    FSources.Delete(row);
    {
        const QSignalBlocker block(FList);
        delete item;
    }
    if (FPreviewHost) FPreviewHost->ClearPreviewPicture();
    FComponent->ClearTasks();
}

void TForm1::ClearClicked()
{
    FSources.Clear();
    {
        const QSignalBlocker block(FList);
        FList->clear();
    }
    if (FPreviewHost) FPreviewHost->ClearPreviewPicture();
    FComponent->ClearTasks();
}

void TForm1::RowSelected()
{
    // With a single row the preview already shows its file.
    if (FSources.Count() < 2) return;
    QTreeWidgetItem *item = FList->currentItem();
    if (!item || !item->isSelected()) return;
    const int row = FList->indexOfTopLevelItem(item);
    if (row < 0 || row >= FSources.Count()) return;
    if (!FComponent->MediaLibrariesLoaded() &&
        !FComponent->LoadMediaLibraries(Utf8ToUtf16(FSetup.LibraryFolder)))
        return;
    if (!FComponent->Probe().OpenFile(Utf8ToUtf16(FSources.SourceFiles()[row]))) return;
    if (FPreviewHost) FPreviewHost->OpenPreview(FComponent->Probe());
}

// ---- The run -----------------------------------------------------------

TAssemblyContext TForm1::AssemblyContext() const
{
    TAssemblyContext context;
    context.TabIndex = FTabs->currentIndex();
    context.FormatIndex = FFormatList->currentIndex();
    context.PresetIndex = FPresetList->currentIndex();
    if (context.PresetIndex >= 0 && size_t(context.PresetIndex) < FStore.FormatPresets.size())
        context.PresetFile = FStore.FormatPresets[context.PresetIndex];
    context.BrandIndex = FBrandList->currentIndex();
    context.ModelIndex = FModelList->currentIndex();
    if (context.ModelIndex >= 0 && size_t(context.ModelIndex) < FStore.DeviceModels.size())
        context.ModelFile = FStore.DeviceModels[context.ModelIndex];
    context.Custom = &FCustom;
    context.AudioSummaryLine = FSummaryTexts.AudioCodec;
    context.OutputFolder = FOutputFolder->text().trimmed().toStdString();
    context.ClipActive = FClip.ClipActive();
    if (context.ClipActive) {
        context.ClipStartMs = FClip.ClipStartMs();
        context.ClipLengthMs = FClip.ClipLengthMs();
    }
    return context;
}

void TForm1::StartClicked()
{
    if (FRunActive) return;
    const std::string check = RunControl::StartCheck(FSources.Count(), FTabs->currentIndex() == 3, FCustom);
    if (!check.empty()) {
        FSetup.Messages->ShowMessage(mkError, check);
        return;
    }
    const TAssemblyContext context = AssemblyContext();
    std::string message;
    if (!AppSettings::EnsureOutputFolder(context.OutputFolder, message) ||
        !AppSettings::CheckOutputFolderWritable(context.OutputFolder, message)) {
        FSetup.Messages->ShowMessage(mkError, message);
        return;
    }
    if (!EnsureLibraries()) return;

    FComponent->SetLogLevel(llInfo);
    FComponent->SetThreadPriority(tpLower);
    FRun.Start();
    FRunActive = true;
    ApplyButtons();
    FComponent->ClearTasks();
    FTaskOutputs.clear();

    const int32_t queued = FAssembly->QueueSources(*FComponent, context, FRun, [] {
        QCoreApplication::processEvents(QEventLoop::ExcludeUserInputEvents);
    });
    for (TFFmpeg *task : FComponent->Tasks().Items()) {
        const int32_t index = task->TaskIndex;
        if (index < 0) continue;
        if (size_t(index) >= FTaskOutputs.size()) FTaskOutputs.resize(index + 1);
        FTaskOutputs[index].FileName = Utf16ToUtf8(task->OutputOptions.FileName);
    }

    std::string skipped;
    for (const auto &[row, reason] : FAssembly->SkippedRows) {
        const std::string name = row >= 0 && row < FSources.Count() ? FSources.Row(row).Name : std::string();
        skipped += "\n" + name + "：" + reason;
    }

    if (FClosing || queued == 0) {
        // Nothing to run (or the window is closing): back to idle at once.
        RemoveAllUnfinishedOutputs();
        FComponent->ClearTasks();
        FRun.EndOfQueue();
        FRunActive = false;
        ApplyButtons();
        if (FClosing) {
            FCloseNow = true;
            close();
        } else if (!skipped.empty()) {
            FSetup.Messages->ShowMessage(mkWarning, "没有可以转换的视频文件。" + skipped);
        }
        return;
    }

    FComponent->StartConvert(1);
    if (!skipped.empty()) FSetup.Messages->ShowMessage(mkWarning, "以下文件不能转换，已跳过：" + skipped);
}

void TForm1::PauseClicked()
{
    if (FRun.State() != rsRunning) return;
    FRun.Pause();
    ApplyButtons();
    FComponent->PauseConvert();
}

void TForm1::ResumeClicked()
{
    if (FRun.State() != rsPaused) return;
    FRun.Resume();
    ApplyButtons();
    FComponent->ResumeConvert();
}

void TForm1::StopClicked()
{
    if (!FRunActive) return;
    FRun.Stop();
    ApplyButtons();
    FComponent->StopConvert();
}

void TForm1::ApplyButtons()
{
    const TButtonStates &buttons = FRun.Buttons();
    FStart->setEnabled(buttons.Start);
    FPause->setEnabled(buttons.Pause);
    FResume->setEnabled(buttons.Resume);
    FStop->setEnabled(buttons.Stop);
    for (QAbstractButton *button : std::initializer_list<QAbstractButton *>{FAddLarge, FAdd, FDelete, FClear})
        button->setEnabled(buttons.AddDeleteClear);
}

void TForm1::OnProgress(int index, const TProgressFigures &figures)
{
    if (!FRunActive) return;
    const int32_t row = FRun.RowOfTask(index);
    if (row < 0) return;
    const std::string text = RunControl::ProgressText(figures.CurrentDuration, figures.TotalOutputDuration);
    QTreeWidgetItem *item = FList->topLevelItem(row);
    if (!item || !FSources.SetProgress(row, text)) {
        FRun.ProgressUpdateFailed();
        ApplyButtons();
        return;
    }
    item->setText(4, QString::fromStdString(text));
}

void TForm1::OnTerminate(int index, bool finished, bool exception, const QString &message)
{
    if (!FRunActive) return;
    if (index < 0) {
        EndOfQueue();
        return;
    }
    if (index < int(FTaskOutputs.size())) {
        FTaskOutputs[index].Ended = true;
        FTaskOutputs[index].Finished = finished;
    }
    if (finished) {
        const int32_t row = FRun.RowOfTask(index);
        QTreeWidgetItem *item = FList->topLevelItem(row);
        if (item && FSources.SetProgress(row, "100%")) item->setText(4, "100%");
    } else {
        // A stopped or failed task leaves no output that looks finished.
        RemoveUnfinishedOutput(index);
    }
    // The warning does not hold the queue: the next task is already running.
    if (exception && !FClosing) FSetup.Messages->ShowMessage(mkWarning, message.toStdString());
}

void TForm1::EndOfQueue()
{
    if (!FRunActive) return;
    FRun.EndOfQueue();
    FRunActive = false;
    ApplyButtons();
    RemoveAllUnfinishedOutputs();
    if (FClosing) {
        FComponent->ClearTasks();
        FCloseNow = true;
        close();
        return;
    }
    if (FShutdown->isChecked()) {
        // Unattended: the message counts down and the computer goes off
        // unless the user cancels.
        FCountdown = new TPowerOffCountdown(this, "视频成功转换！", FSetup.PowerOffSeconds);
        FCountdown->setAttribute(Qt::WA_DeleteOnClose);
        connect(FCountdown, &QDialog::finished, this, [this](int result) {
            FCountdown = nullptr;
            const bool powerOff = result == QDialog::Accepted && !FClosing;
            FinishEndOfQueue();
            std::string error;
            if (powerOff && !FSetup.Power->PowerOff(error)) FSetup.Messages->ShowMessage(mkError, error);
        });
        FCountdown->show();
        return;
    }
    FSetup.Messages->ShowMessage(mkInformation, "视频成功转换！");
    FinishEndOfQueue();
}

void TForm1::FinishEndOfQueue()
{
    // A new run may have started while the message was open: its tasks stay.
    if (!FRunActive) FComponent->ClearTasks();
    emit QueueEnded();
}

void TForm1::RemoveUnfinishedOutput(int taskIndex)
{
    if (taskIndex < 0 || taskIndex >= int(FTaskOutputs.size())) return;
    TTaskOutput &output = FTaskOutputs[taskIndex];
    if (output.Finished || output.FileName.empty()) return;
    QFile::remove(QString::fromStdString(output.FileName));
    output.FileName.clear();
}

void TForm1::RemoveAllUnfinishedOutputs()
{
    for (int i = 0; i < int(FTaskOutputs.size()); ++i) RemoveUnfinishedOutput(i);
}

// ---- The output folder and About --------------------------------------

void TForm1::BrowseFolderClicked()
{
    const std::string folder = FSetup.Dialogs->BrowseFolder("选择一个目录");
    // A cancelled browser or the file-system root changes nothing.
    if (folder.empty() || folder == "/") return;
    FOutputFolder->setText(QString::fromStdString(folder));
    FRememberedFolder = folder;
    if (!FSettings.WriteOutputFolder(FOutputFolder->text().toStdString()))
        FSetup.Messages->ShowMessage(mkError, FSettings.LastError());
}

void TForm1::OpenFolderClicked()
{
    std::string message;
    if (!AppSettings::EnsureOutputFolder(FRememberedFolder, message)) {
        FSetup.Messages->ShowMessage(mkError, message);
        return;
    }
    if (!FSetup.Shell->OpenFolder(FRememberedFolder))
        FSetup.Messages->ShowMessage(mkError, "无法打开目录 " + FRememberedFolder);
}

void TForm1::AboutClicked()
{
    const std::string readme = FSetup.ProgramFolder + "README.md";
    const std::string url = QUrl::fromLocalFile(QString::fromStdString(readme)).toString().toStdString();
    TForm3 about(this, url, [this](const std::string &address) {
        if (FSetup.Shell->OpenUrl(address)) return true;
        FSetup.Messages->ShowMessage(mkError, "无法打开 " + address);
        return false;
    });
    about.exec();
}
