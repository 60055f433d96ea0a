#include "controls/CPicture.h"

#include "controls/IUiServices.h"

#include <QApplication>
#include <QFile>
#include <QPaintDevice>
#include <QPainter>

namespace
{
constexpr int kHimetricPerInch = 2540; // the picture's size unit: 1/100 mm
constexpr int kScreenDpi = 96;

int MulDiv(int value, int numerator, int denominator)
{
    return static_cast<int>((static_cast<std::int64_t>(value) * numerator + denominator / 2) / denominator);
}
} // namespace

CPicture::~CPicture()
{
    FreePicture();
}

QString CPicture::ResourcePath(std::uint16_t id, const char* type)
{
    return QStringLiteral(":/%1/%2").arg(QString::fromLatin1(type)).arg(id);
}

bool CPicture::LoadFromResource(std::uint16_t id, const char* type)
{
    FreePicture();
    QFile resource(ResourcePath(id, type));
    if (!resource.exists())
    {
        ShowError("FindResource() Failed\t");
        return false;
    }
    if (!resource.open(QIODevice::ReadOnly))
    {
        ShowError("LoadResource() Failed\t");
        return false;
    }
    const QByteArray bytes = resource.readAll();
    const bool result = LoadFromBuffer(reinterpret_cast<const std::uint8_t*>(bytes.constData()),
                                       static_cast<std::uint32_t>(bytes.size()));
    m_dataSize = static_cast<std::uint32_t>(bytes.size());
    if (!IsLoaded())
    {
        m_height = 0;
        m_width = 0;
        return false;
    }
    // Sizes at 96 dots per inch until a device gives its own.
    m_height = m_picture.height();
    m_width = m_picture.width();
    return result;
}

bool CPicture::LoadFromBuffer(const std::uint8_t* data, std::uint32_t size)
{
    if (data == nullptr && size != 0)
    {
        ShowError("Can not allocate enough memory\t");
        return false;
    }
    // Undecodable data is no error here: the caller sees that no picture resulted.
    m_picture = QImage::fromData(data, static_cast<int>(size));
    return true;
}

bool CPicture::UpdateSizeOnDC(const QPaintDevice* device)
{
    if (device == nullptr || !IsLoaded())
    {
        m_height = 0;
        m_width = 0;
        return false;
    }
    const int himetricHeight = MulDiv(m_picture.height(), kHimetricPerInch, kScreenDpi);
    const int himetricWidth = MulDiv(m_picture.width(), kHimetricPerInch, kScreenDpi);
    m_height = MulDiv(himetricHeight, device->logicalDpiY(), kHimetricPerInch);
    m_width = MulDiv(himetricWidth, device->logicalDpiX(), kHimetricPerInch);
    return true;
}

bool CPicture::Draw(QPainter* painter, int x, int y, int width, int height, double scaleX, double scaleY)
{
    if (painter == nullptr || !IsLoaded())
        return false;
    const int targetWidth = width + static_cast<int>(m_width * scaleX);
    const int targetHeight = height + static_cast<int>(m_height * scaleY);
    if (targetWidth <= 0 || targetHeight <= 0)
        return false;
    painter->drawImage(QRect(x, y, targetWidth, targetHeight), m_picture);
    return true;
}

void CPicture::FreePicture()
{
    m_picture = QImage();
    m_height = 0;
    m_dataSize = 0;
    m_width = 0;
}

void CPicture::ShowError(const char* text)
{
    UiServices().ShowMessage(QApplication::activeWindow(), QString::fromLatin1(kErrorCaption),
                             QString::fromLatin1(text), IUiServices::Icon::kError);
}
