// Feeds arbitrary serial descriptions and images to the serial's place and
// patch. The first line of the input is the description, the rest the image.
// The only failures they may raise are SerialSpecError and SerialPlaceError;
// a patched image has the original's lines, lengths and line ends, differs
// only on the lines the place names, holds the number there, and every
// record it touched sums to 0.
#include "FirmwareImage.h"
#include "SerialPlace.h"
#include "SerialSpec.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

void require(bool condition)
{
    if (!condition)
        std::abort();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input(reinterpret_cast<const char *>(data), qsizetype(size));
    const qsizetype end = input.indexOf('\n');
    if (end < 0)
        return 0;
    try {
        const quobin::SerialSpec format = quobin::SerialSpec::parse(QString::fromLatin1(input.left(end)));
        const auto image = quobin::FirmwareImage::fromBytes(input.mid(end + 1));
        const quobin::SerialPlace place = quobin::SerialPlace::find(*image, format.address, format.width);
        const QByteArray serial = format.encode(format.first);
        const auto patched = place.patched(*image, serial);
        require(place.bytesIn(*patched) == serial);
        require(format.decode(place.bytesIn(*patched)) == format.first);
        require(patched->bytes().size() == image->bytes().size());
        require(quobin::FirmwareImage::fromBytes(patched->bytes())->lines() == patched->lines());
        QList<int> touched;
        for (const quobin::SerialPiece &piece : place.pieces())
            touched.append(piece.line);
        for (qsizetype i = 0; i < image->lines().size(); ++i) {
            const QByteArray &before = image->lines()[i];
            const QByteArray &after = patched->lines()[i];
            require(after.size() == before.size());
            if (!touched.contains(int(i))) {
                require(after == before);
                continue;
            }
            const int count = int(QByteArray::fromHex(before.mid(1, 2)).at(0)) & 0xff;
            const QByteArray bytes = QByteArray::fromHex(after.mid(1, 10 + 2 * count));
            int sum = 0;
            for (const char b : bytes)
                sum += quint8(b);
            require((sum & 0xff) == 0);
            require(after.left(9) == before.left(9));
            require(after.mid(11 + 2 * count) == before.mid(11 + 2 * count));
        }
    } catch (const quobin::SerialSpecError &) {
    } catch (const quobin::SerialPlaceError &) {
    }
    return 0;
}
