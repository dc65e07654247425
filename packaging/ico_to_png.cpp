// Writes the images of an .ico file as PNGs for an icon theme:
//   ico_to_png ICO OUTDIR NAME   ->   OUTDIR/<w>x<h>/apps/NAME.png
// An .ico holds the same size at several colour depths; the deepest wins.
// Built and run at build time, so the package's icons always match the .ico.

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QImageReader>
#include <QMap>
#include <QtEndian>

#include <cstdio>

namespace {

int fail(const QString &what)
{
    std::fprintf(stderr, "ico_to_png: %s\n", qPrintable(what));
    return 1;
}

// The bits per pixel of each image, in the order of the .ico's directory
// (the order in which QImageReader returns the images).
QList<int> bitDepths(const QByteArray &ico)
{
    QList<int> depths;
    if (ico.size() < 6)
        return depths;
    const int count = qFromLittleEndian<quint16>(ico.constData() + 4);
    for (int i = 0; i < count && 6 + 16 * (i + 1) <= ico.size(); ++i)
        depths << qFromLittleEndian<quint16>(ico.constData() + 6 + 16 * i + 6);
    return depths;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    const QStringList args = app.arguments();
    if (args.size() != 4)
        return fail(QStringLiteral("usage: ico_to_png ICO OUTDIR NAME"));
    QFile file(args[1]);
    if (!file.open(QIODevice::ReadOnly))
        return fail(args[1] + QStringLiteral(": ") + file.errorString());
    const QList<int> depths = bitDepths(file.readAll());
    file.close();

    QImageReader reader(args[1], "ico");
    QMap<int, QPair<int, QImage>> best; // width -> (depth, image)
    for (int i = 0; i < depths.size(); ++i) {
        if (i > 0 && !reader.jumpToNextImage())
            break;
        const QImage image = reader.read();
        if (image.isNull())
            return fail(args[1] + QStringLiteral(": ") + reader.errorString());
        if (image.width() != image.height())
            continue;
        if (!best.contains(image.width()) || best[image.width()].first < depths[i])
            best[image.width()] = {depths[i], image.convertToFormat(QImage::Format_ARGB32)};
    }
    if (best.isEmpty())
        return fail(args[1] + QStringLiteral(": no square images"));

    for (auto it = best.cbegin(); it != best.cend(); ++it) {
        const QString folder = QStringLiteral("%1/%2x%2/apps").arg(args[2]).arg(it.key());
        const QString path = folder + QLatin1Char('/') + args[3] + QStringLiteral(".png");
        if (!QDir().mkpath(folder) || !it.value().second.save(path, "PNG"))
            return fail(QStringLiteral("cannot write ") + path);
    }
    return 0;
}
