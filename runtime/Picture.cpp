#include "runtime/Picture.h"

#include "runtime/Exceptions.h"
#include "runtime/SysUtils.h"

#include <QBuffer>
#include <QByteArray>
#include <QImageReader>

#include <csetjmp>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>

#include <jpeglib.h>
#include <jerror.h>

namespace {

struct JpegError {
    jpeg_error_mgr manager;
    std::jmp_buf jump;
    int code;
};

void jpegFail(j_common_ptr info)
{
    auto* error = reinterpret_cast<JpegError*>(info->err);
    error->code = error->manager.msg_code;
    std::longjmp(error->jump, 1);
}

void jpegSilent(j_common_ptr, int) {}

QImage readWithQt(const std::string& data, const char* format)
{
    QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, format);
    return reader.read();
}

} // namespace

namespace {

// Only plain locals live in the frame that setjmp marks: the picture is
// written through a pointer and the rows go straight into its scan lines
// (libjpeg-turbo's BGRX output is QImage's RGB32 layout), so a jump back
// loses nothing.
bool decodeJpeg(const unsigned char* data, unsigned long size, QImage* image, int* code)
{
    jpeg_decompress_struct info;
    JpegError error;
    info.err = jpeg_std_error(&error.manager);
    error.manager.error_exit = jpegFail;
    error.manager.emit_message = jpegSilent;
    error.code = 0;
    if (setjmp(error.jump)) {
        jpeg_destroy_decompress(&info);
        *code = error.code;
        return false;
    }
    jpeg_create_decompress(&info);
    jpeg_mem_src(&info, data, size);
    jpeg_read_header(&info, TRUE);
    // A header may declare up to 65,500 x 65,500 pixels in a few bytes;
    // decoding that would take gigabytes. The limit is Qt's for its own
    // readers (BMP, ICO): 256 MiB of picture unless the process sets another.
    if (static_cast<std::uint64_t>(info.image_width) * info.image_height * 4 >
        static_cast<std::uint64_t>(QImageReader::allocationLimit()) << 20) {
        jpeg_destroy_decompress(&info);
        *code = JERR_IMAGE_TOO_BIG;
        return false;
    }
    info.out_color_space = JCS_EXT_BGRX;
    jpeg_start_decompress(&info);
    *image = QImage(static_cast<int>(info.output_width), static_cast<int>(info.output_height), QImage::Format_RGB32);
    if (image->isNull()) {
        jpeg_destroy_decompress(&info);
        *code = -1;
        return false;
    }
    while (info.output_scanline < info.output_height) {
        JSAMPROW row = image->scanLine(static_cast<int>(info.output_scanline));
        jpeg_read_scanlines(&info, &row, 1);
    }
    jpeg_finish_decompress(&info);
    jpeg_destroy_decompress(&info);
    return true;
}

} // namespace

QImage DecodeJpeg(std::string_view bytes)
{
    QImage image;
    int code = 0;
    if (!decodeJpeg(reinterpret_cast<const unsigned char*>(bytes.data()), static_cast<unsigned long>(bytes.size()),
                    &image, &code))
        throw Exception("JPEG エラー #" + std::to_string(code));
    return image;
}

QImage LoadPictureFile(const std::string& path)
{
    const std::string data = ReadWholeFile(path);
    if (data.size() >= 2 && static_cast<unsigned char>(data[0]) == 0xFF && static_cast<unsigned char>(data[1]) == 0xD8)
        return DecodeJpeg(data);
    QImage image = readWithQt(data, "bmp");
    if (image.isNull())
        throw Exception("ビットマップ イメージは有効ではありません");
    return image.convertToFormat(QImage::Format_RGB32);
}

QImage LoadIconFile(const std::string& path)
{
    const std::string data = ReadWholeFile(path);
    QByteArray bytes(data.data(), static_cast<qsizetype>(data.size()));
    QBuffer buffer(&bytes);
    buffer.open(QIODevice::ReadOnly);
    QImageReader reader(&buffer, "ico");
    QImage best;
    do {
        QImage image = reader.read();
        if (!image.isNull() && image.width() * image.height() > best.width() * best.height())
            best = image;
    } while (reader.jumpToNextImage());
    if (best.isNull())
        throw Exception("アイコン イメージは有効ではありません");
    return best.convertToFormat(QImage::Format_ARGB32);
}
