#include "app/CDiscoverDlg.h"

#include "common/Ipv4Address.h"
#include "controls/IUiServices.h"
#include "devices/CDiscoverProtocol.h"
#include "devices/CUDPDiscover.h"
#include "devices/CUDPReset.h"
#include "ui_CDiscoverDlg.h"

#include <QCoreApplication>
#include <QFileInfo>
#include <QHeaderView>
#include <QUrl>

#include <arpa/inet.h>

#include <algorithm>
#include <vector>

namespace
{
constexpr int kAddressColumnWidthPx = 300;
constexpr int kAddressRole = Qt::UserRole;

std::uint32_t ItemAddress(const QTreeWidgetItem* item)
{
    return item->data(0, kAddressRole).toUInt();
}
} // namespace

CDiscoverDlg::CDiscoverDlg(CUDPDiscover* discover, CUDPReset* reset, Mode mode, QWidget* parent)
    : QDialog(parent), m_mode(mode), m_discover(discover), m_reset(reset), m_ui(std::make_unique<Ui::CDiscoverDlg>()),
      m_updateToolPath(QCoreApplication::applicationDirPath() + '/' + kUpdateToolName)
{
    m_ui->setupUi(this);
    setFixedSize(size());
    QTreeWidget* list = m_ui->deviceList;
    list->setColumnWidth(0, kAddressColumnWidthPx);
    AddDeviceColumns();
    list->setSelectionBehavior(QAbstractItemView::SelectRows);

    m_refreshTimer.setObjectName("refreshTimer");
    connect(&m_refreshTimer, &QTimer::timeout, this, &CDiscoverDlg::RefreshList);
    connect(list, &QTreeWidget::itemSelectionChanged, this, &CDiscoverDlg::OnItemChanged);
    connect(list, &QTreeWidget::itemDoubleClicked, this, &CDiscoverDlg::OnSettings);
    connect(m_ui->findButton, &QPushButton::clicked, this, &CDiscoverDlg::OnFind);
    connect(m_ui->settingsButton, &QPushButton::clicked, this, &CDiscoverDlg::OnSettings);
    connect(m_ui->updateButton, &QPushButton::clicked, this, &CDiscoverDlg::OnUpdate);
    connect(m_ui->resetButton, &QPushButton::clicked, this, &CDiscoverDlg::OnResetToFactoryDefaults);
    connect(m_ui->okButton, &QPushButton::clicked, this, &QDialog::accept);
    connect(m_ui->cancelButton, &QPushButton::clicked, this, &QDialog::reject);

    // The first refresh comes a second after opening; until then the list is empty.
    if (m_discover != nullptr)
        m_refreshTimer.start(kRefreshMs);
    const bool manage = m_mode == Mode::kManage;
    m_ui->updateButton->setVisible(manage);
    m_ui->settingsButton->setVisible(manage);
    m_ui->resetButton->setVisible(manage);
    m_ui->cancelButton->setVisible(m_mode == Mode::kSelect);
    m_ui->updateButton->setEnabled(false);
    m_ui->settingsButton->setEnabled(false);
    m_ui->resetButton->setEnabled(false);
    if (m_mode == Mode::kSelect)
    {
        QPushButton* ok = m_ui->okButton;
        ok->setText(QStringLiteral("Use selected"));
        ok->setEnabled(false);
        // The longer caption needs a wider button: it grows to the left, Cancel moves with it.
        const QRect okRect = ok->geometry();
        const int width = std::max(okRect.width(), ok->sizeHint().width());
        ok->setGeometry(okRect.right() + 1 - width, okRect.y(), width, okRect.height());
        QPushButton* cancel = m_ui->cancelButton;
        cancel->move(ok->x() - (okRect.x() - cancel->geometry().right()) - cancel->width() + 1, cancel->y());
    }
}

CDiscoverDlg::~CDiscoverDlg() = default;

QTreeWidget* CDiscoverDlg::List() const
{
    return m_ui->deviceList;
}
QPushButton* CDiscoverDlg::OkButton() const
{
    return m_ui->okButton;
}
QPushButton* CDiscoverDlg::UpdateButton() const
{
    return m_ui->updateButton;
}
QPushButton* CDiscoverDlg::SettingsButton() const
{
    return m_ui->settingsButton;
}
QPushButton* CDiscoverDlg::ResetButton() const
{
    return m_ui->resetButton;
}
QPushButton* CDiscoverDlg::CancelButton() const
{
    return m_ui->cancelButton;
}

void CDiscoverDlg::OnFind()
{
    if (m_discover != nullptr)
        m_refreshTimer.start(kRefreshMs);
}

void CDiscoverDlg::RefreshList()
{
    if (m_discover == nullptr)
        return;
    QTreeWidget* list = m_ui->deviceList;
    std::vector<std::uint32_t> stale;
    for (int row = 0; row < list->topLevelItemCount(); ++row)
        stale.push_back(ItemAddress(list->topLevelItem(row)));

    for (const auto& record : m_discover->GetDevices())
    {
        const std::uint32_t address = CDiscoverProtocol::GetAddress(record);
        if (const auto it = std::find(stale.begin(), stale.end(), address); it != stale.end())
        {
            // Listed already: the row keeps its place and its serial text.
            stale.erase(it);
            continue;
        }
        auto* item = new QTreeWidgetItem;
        item->setText(kAddressColumn, QString::fromStdString(FormatIpv4(address)));
        item->setText(kSerialColumn, QString::number(CDiscoverProtocol::GetSerial(record)));
        item->setData(0, kAddressRole, address);
        item->setText(kModelColumn, QString::fromStdString(CDiscoverProtocol::GetModel(record)));
        item->setText(kFirmwareColumn, QString::fromStdString(CDiscoverProtocol::FormatFirmware(record)));
        item->setText(kMacColumn, QString::fromStdString(CDiscoverProtocol::FormatMac(record)));
        list->insertTopLevelItem(0, item);
    }
    for (const std::uint32_t address : stale)
        for (int row = 0; row < list->topLevelItemCount(); ++row)
            if (ItemAddress(list->topLevelItem(row)) == address)
            {
                delete list->takeTopLevelItem(row);
                break;
            }
}

void CDiscoverDlg::OnItemChanged()
{
    const auto selected = m_ui->deviceList->selectedItems();
    const bool any = !selected.isEmpty();
    m_ui->okButton->setEnabled(any || m_mode == Mode::kManage);
    m_ui->updateButton->setEnabled(any);
    m_ui->settingsButton->setEnabled(any);
    m_ui->resetButton->setEnabled(any);
    m_selectedAddressText.clear();
    m_selectedAddress = 0;
    for (const QTreeWidgetItem* item : selected)
    {
        m_selectedAddressText = item->text(0);
        m_selectedAddress = ItemAddress(item);
    }
}

QStringList CDiscoverDlg::SelectedAddressTexts() const
{
    QStringList texts;
    for (const QTreeWidgetItem* item : m_ui->deviceList->selectedItems())
        texts.push_back(item->text(0));
    return texts;
}

void CDiscoverDlg::OnSettings()
{
    for (const QString& address : SelectedAddressTexts())
    {
        const QString url = QStringLiteral("http://") + address;
        if (!UiServices().OpenUrl(QUrl(url)))
            UiServices().ShowMessage(this, QString::fromLatin1(kCaption), QString::fromLatin1(kNoBrowser).arg(url),
                                     IUiServices::Icon::kWarning);
    }
}

void CDiscoverDlg::OnUpdate()
{
    const QString caption = QString::fromLatin1(kCaption);
    if (!QFileInfo::exists(m_updateToolPath))
    {
        if (!SelectedAddressTexts().isEmpty())
            UiServices().ShowMessage(this, caption, QString::fromLatin1(kUpdateToolMissing).arg(m_updateToolPath),
                                     IUiServices::Icon::kWarning);
        return;
    }
    // The address goes as one argument of its own: no shell ever sees it.
    for (const QString& address : SelectedAddressTexts())
        if (!UiServices().StartDetached(m_updateToolPath, {QStringLiteral("-v"), QStringLiteral("--device"), address}))
            UiServices().ShowMessage(this, caption, QString::fromLatin1(kUpdateToolFailed).arg(m_updateToolPath),
                                     IUiServices::Icon::kError);
}

void CDiscoverDlg::AddDeviceColumns()
{
    // What every device announces, so that an engineer can tell two boxes apart.
    QTreeWidget* list = m_ui->deviceList;
    list->setColumnCount(kColumnCount);
    list->setHeaderLabels({QStringLiteral("IP address"), QStringLiteral("Serial number"), QStringLiteral("Model"),
                           QStringLiteral("Firmware"), QStringLiteral("MAC address")});
    list->header()->setSectionResizeMode(QHeaderView::ResizeToContents);
    list->header()->setStretchLastSection(true);
    list->setToolTip(QStringLiteral("Devices found on the network; double-click opens a device's web page"));
    m_ui->okButton->setToolTip(m_mode == Mode::kSelect ? QStringLiteral("Use the selected device as the destination")
                                                       : QStringLiteral("Close the list"));
    m_ui->cancelButton->setToolTip(QStringLiteral("Close without choosing a device"));
    m_ui->updateButton->setToolTip(QStringLiteral("Start the firmware update tool on the selected device"));
    m_ui->settingsButton->setToolTip(QStringLiteral("Open the selected device's web settings page"));
    m_ui->resetButton->setToolTip(QStringLiteral("Reset the selected device to its factory defaults (asks first)"));
}

void CDiscoverDlg::OnResetToFactoryDefaults()
{
    const auto selected = m_ui->deviceList->selectedItems();
    if (selected.isEmpty() || m_reset == nullptr)
        return;
    const QTreeWidgetItem* item = selected.front();
    const QString address = item->text(0);
    QString model = item->text(kModelColumn);
    if (model.isEmpty())
        model = QStringLiteral("not announced");
    const QString caption = QString::fromLatin1(kCaption);
    if (!UiServices().AskYesNo(this, caption, QString::fromLatin1(kResetQuestion).arg(address, item->text(1), model)))
        return;
    if (m_reset->SendResetPacket(htonl(ItemAddress(item))))
        UiServices().ShowMessage(this, caption, QString::fromLatin1(kResetSent).arg(address, item->text(1), model),
                                 IUiServices::Icon::kInformation);
    else
        UiServices().ShowMessage(
            this, caption, QString::fromLatin1(kResetFailed).arg(address, QString::fromStdString(m_reset->LastError())),
            IUiServices::Icon::kError);
}
