#pragma once
//! @file CPicture.h
//! A picture stored in the program's Qt resources (the GIF banner), drawn at its
//! natural size. Resource @p id of type @p type lives at ":/<type>/<id>".
//! Loading failures are reported in message boxes captioned "CPicture Error".

#include <QImage>
#include <QString>

#include <cstdint>

class QPainter;
class QPaintDevice;

class CPicture
{
public:
    CPicture() = default;
    virtual ~CPicture();
    CPicture(const CPicture&) = delete;
    CPicture& operator=(const CPicture&) = delete;

    //! Frees any loaded picture, then loads resource @p id of @p type ("GIF").
    bool LoadFromResource(std::uint16_t id, const char* type);
    //! Decodes @p size bytes at @p data. True unless the data cannot be taken at all;
    //! whether a picture resulted shows in IsLoaded().
    bool LoadFromBuffer(const std::uint8_t* data, std::uint32_t size);
    //! Converts the picture's size into @p device's pixels (false and zero sizes without one).
    bool UpdateSizeOnDC(const QPaintDevice* device);
    //! Draws the whole picture at (@p x, @p y), @p width + picture width x @p scaleX wide
    //! and @p height + picture height x @p scaleY high.
    bool Draw(QPainter* painter, int x, int y, int width, int height, double scaleX, double scaleY);
    void FreePicture();

    bool IsLoaded() const { return !m_picture.isNull(); }
    int GetWidth() const { return m_width; }
    int GetHeight() const { return m_height; }
    std::uint32_t GetDataSize() const { return m_dataSize; }

    static QString ResourcePath(std::uint16_t id, const char* type);
    static constexpr const char* kErrorCaption = "CPicture Error";

private:
    static void ShowError(const char* text);

    QImage m_picture;
    int m_height = 0;
    std::uint32_t m_dataSize = 0;
    int m_width = 0;
};
