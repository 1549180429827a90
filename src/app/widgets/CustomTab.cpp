#include "CustomTab.h"

#include <QComboBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "ProfileStore.h"
#include "Services.h"

TCustomTab::TCustomTab(CustomProfile &profile, TBeepService &beep, const QList<QIcon> &icons, QWidget *parent)
    : QWidget(parent), FBeep(beep), FProfile(profile)
{
    setObjectName("CustomTab");
    FOpen = new QPushButton(QStringLiteral("自定义"), this);
    FOpen->setObjectName("sSpeedButton5");
    FOpen->setGeometry(12, 10, 90, 28);
    connect(FOpen, &QPushButton::clicked, this, &TCustomTab::OpenPanel);

    FPanel = new QWidget(this);
    FPanel->setObjectName("sPanel3");
    FPanel->setAutoFillBackground(true);
    FPanel->hide();

    auto label = [this](const char *text, int x, int y) {
        auto *l = new QLabel(QString::fromUtf8(text), FPanel);
        l->move(x, y);
        return l;
    };
    auto edit = [this](const char *name, int maxLength, int x, int y, int width) {
        auto *e = new QLineEdit(FPanel);
        e->setObjectName(name);
        e->setMaxLength(maxLength);
        e->setGeometry(x, y, width, 22);
        e->installEventFilter(this);
        connect(e, &QLineEdit::textChanged, this, &TCustomTab::SyncProfile);
        return e;
    };

    label("视频类型", 16, 16);
    FType = new QComboBox(FPanel);
    FType->setObjectName("sComboBoxEx5");
    FType->setToolTip(QStringLiteral("选择转换视频类型方案"));
    FType->setGeometry(96, 12, 290, 24);
    for (int i = 0; i < FormatItemCount; ++i)
        FType->addItem(i < icons.size() ? icons[i] : QIcon(), QString::fromUtf8(FormatItems[size_t(i)]));

    label("视频尺寸", 16, 50);
    FWidth = edit("sEdit1", CustomProfile::WidthMaxLength, 96, 46, 60);
    label("Ⅹ", 162, 50);
    FHeight = edit("sEdit2", CustomProfile::HeightMaxLength, 180, 46, 60);
    label("视频比特率", 16, 84);
    FBitrate = edit("sEdit3", CustomProfile::BitrateMaxLength, 96, 80, 100);
    label("帧速率", 16, 118);
    FFps = edit("sEdit4", CustomProfile::FpsMaxLength, 96, 114, 40);

    connect(FType, &QComboBox::activated, this, &TCustomTab::TypeActivated);
    connect(FType, &QComboBox::currentIndexChanged, this, [this](int index) {
        SyncProfile();
        emit TypeChanged(index);
    });
    Reset();
}

void TCustomTab::Reset()
{
    FProfile.Reset();
    HidePanel();
    {
        // The fields first, quietly; the type change then runs its handling
        // with the profile already in step.
        const QSignalBlocker blockWidth(FWidth), blockHeight(FHeight), blockBitrate(FBitrate), blockFps(FFps);
        FWidth->setText(QString::fromStdString(FProfile.Width));
        FHeight->setText(QString::fromStdString(FProfile.Height));
        FBitrate->setText(QString::fromStdString(FProfile.Bitrate));
        FFps->setText(QString::fromStdString(FProfile.Fps));
    }
    if (FType->currentIndex() != FProfile.TypeIndex)
        FType->setCurrentIndex(FProfile.TypeIndex);
    else
        SyncProfile();
}

void TCustomTab::OpenPanel()
{
    // Over everything on the tab, the summary lines included.
    raise();
    FPanel->setGeometry(rect());
    FPanel->raise();
    FPanel->show();
    FProfile.PanelOpen = true;
}

void TCustomTab::HidePanel()
{
    FPanel->hide();
    FProfile.PanelOpen = false;
    lower(); // the summary lines show again
}

void TCustomTab::SyncProfile()
{
    FProfile.TypeIndex = FType->currentIndex();
    FProfile.TypeText = FType->currentText().toStdString();
    FProfile.Width = FWidth->text().toStdString();
    FProfile.Height = FHeight->text().toStdString();
    FProfile.Bitrate = FBitrate->text().toStdString();
    FProfile.Fps = FFps->text().toStdString();
}

bool TCustomTab::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::KeyPress) {
        const QString text = static_cast<QKeyEvent *>(event)->text();
        if (!text.isEmpty() && !CustomProfile::AcceptKey(text.toUcs4().front())) {
            FBeep.Beep();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

void TCustomTab::resizeEvent(QResizeEvent *event)
{
    QWidget::resizeEvent(event);
    FPanel->setGeometry(rect());
}
