// Writes the visualiser's generated media: aircraft meshes, sky and grass textures and
// the window icon. Runs at build time without a window.
//   quvor_media_gen <media folder> <icon file>
//   quvor_media_gen --icon-png <size> <png file>   the same icon drawn at one size, for menus
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <random>
#include <string>

#include <QColor>
#include <QDir>
#include <QImage>
#include <QPainter>
#include <QPainterPath>

#include <Ogre.h>
#include <OgreDefaultHardwareBufferManager.h>
#include <OgreManualObject.h>
#include <OgreMeshSerializer.h>

#include "media/Aircraft.h"
#include "common/Angles.h"

namespace {

// ---- Meshes

void exportMesh(const media::NamedMesh& named, const std::string& folder)
{
    Ogre::ManualObject manual(named.file);
    for (const auto& [material, sub] : named.mesh.subMeshes()) {
        // The scripts are not loaded here; without a material of that name the section
        // would silently fall back to a default one.
        auto& materials = Ogre::MaterialManager::getSingleton();
        if (!materials.resourceExists(material))
            materials.create(material, Ogre::ResourceGroupManager::DEFAULT_RESOURCE_GROUP_NAME);
        manual.begin(material, Ogre::RenderOperation::OT_TRIANGLE_LIST);
        for (size_t i = 0; i < sub.positions.size(); ++i) {
            manual.position(sub.positions[i]);
            manual.normal(sub.normals[i]);
            manual.textureCoord(sub.uvs[i]);
        }
        for (Ogre::uint32 index : sub.indices)
            manual.index(index);
        manual.end();
    }
    Ogre::MeshPtr mesh = manual.convertToMesh(named.file);
    // The mesh's buffers must go before the buffer manager, also when the export throws.
    struct Remove {
        Ogre::MeshPtr& mesh;
        ~Remove() { Ogre::MeshManager::getSingleton().remove(mesh); }
    } remove{mesh};
    Ogre::MeshSerializer().exportMesh(mesh.get(), folder + "/" + named.file);
}

// ---- Textures: tileable value noise

class TileNoise {
public:
    TileNoise(int period, unsigned seed) : mPeriod(period), mValues(size_t(period * period))
    {
        std::mt19937 rng(seed);
        std::uniform_real_distribution<float> dist(0.0f, 1.0f);
        for (float& value : mValues)
            value = dist(rng);
    }
    // u, v in lattice cells; wraps every `period` cells.
    float at(float u, float v) const
    {
        const int x0 = int(std::floor(u)), y0 = int(std::floor(v));
        const float fx = smooth(u - float(x0)), fy = smooth(v - float(y0));
        const float a = cell(x0, y0), b = cell(x0 + 1, y0), c = cell(x0, y0 + 1), d = cell(x0 + 1, y0 + 1);
        return (a + (b - a) * fx) + ((c + (d - c) * fx) - (a + (b - a) * fx)) * fy;
    }

private:
    static float smooth(float t) { return t * t * (3.0f - 2.0f * t); }
    float cell(int x, int y) const
    {
        x = ((x % mPeriod) + mPeriod) % mPeriod;
        y = ((y % mPeriod) + mPeriod) % mPeriod;
        return mValues[size_t(y * mPeriod + x)];
    }
    int mPeriod;
    std::vector<float> mValues;
};

// Fractal noise in 0..1 that tiles over the image of `size` pixels.
float fbm(const std::vector<TileNoise>& octaves, int size, int x, int y, int basePeriod)
{
    float sum = 0.0f, weight = 0.0f, amplitude = 1.0f;
    int period = basePeriod;
    for (const TileNoise& octave : octaves) {
        const float scale = float(period) / float(size);
        sum += amplitude * octave.at(float(x) * scale, float(y) * scale);
        weight += amplitude;
        amplitude *= 0.5f;
        period *= 2;
    }
    return sum / weight;
}

std::vector<TileNoise> makeOctaves(int count, int basePeriod, unsigned seed)
{
    std::vector<TileNoise> octaves;
    for (int i = 0, period = basePeriod; i < count; ++i, period *= 2)
        octaves.emplace_back(period, seed + unsigned(i) * 7919u);
    return octaves;
}

bool writeClouds(const QString& path)
{
    const int size = 512, base = 4;
    const auto octaves = makeOctaves(6, base, 11);
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float n = fbm(octaves, size, x, y, base);
            // Open blue sky with soft white clouds where the noise is high.
            const float cloud = std::clamp((n - 0.48f) * 3.2f, 0.0f, 1.0f);
            const float c = cloud * cloud * (3.0f - 2.0f * cloud);
            const QColor sky(70, 130, 215), white(245, 247, 250);
            image.setPixel(x, y,
                           qRgb(int(sky.red() + (white.red() - sky.red()) * c),
                                int(sky.green() + (white.green() - sky.green()) * c),
                                int(sky.blue() + (white.blue() - sky.blue()) * c)));
        }
    return image.save(path, "PNG");
}

bool writeGrass(const QString& path)
{
    const int size = 256, base = 8;
    const auto patches = makeOctaves(5, base, 23);
    const auto blades = makeOctaves(2, 128, 57);
    QImage image(size, size, QImage::Format_RGB32);
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            const float patch = fbm(patches, size, x, y, base);
            const float blade = fbm(blades, size, x, y, 128);
            const float shade = 0.55f + 0.5f * patch + 0.35f * (blade - 0.5f);
            image.setPixel(x, y,
                           qRgb(std::clamp(int(62 * shade), 0, 255), std::clamp(int(128 * shade), 0, 255),
                                std::clamp(int(40 * shade), 0, 255)));
        }
    return image.save(path, "PNG");
}

// ---- Window icon: a quadcopter seen from above on a rounded blue tile

QImage drawIcon(int size)
{
    QImage image(size, size, QImage::Format_ARGB32);
    image.fill(Qt::transparent);
    QPainter p(&image);
    p.setRenderHint(QPainter::Antialiasing);
    const qreal s = size;
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(38, 92, 168));
    p.drawRoundedRect(QRectF(0.03 * s, 0.03 * s, 0.94 * s, 0.94 * s), 0.2 * s, 0.2 * s);
    const QPointF centre(0.5 * s, 0.5 * s);
    const qreal arm = 0.27 * s;
    p.setPen(QPen(QColor(240, 240, 240), 0.07 * s, Qt::SolidLine, Qt::RoundCap));
    for (int i = 0; i < 4; ++i) {
        const qreal a = Pi / 4 + i * Pi / 2;
        p.drawLine(centre, centre + QPointF(arm * std::cos(a), arm * std::sin(a)));
    }
    p.setPen(QPen(QColor(240, 240, 240), std::max<qreal>(1.0, 0.035 * s)));
    p.setBrush(QColor(255, 255, 255, 70));
    for (int i = 0; i < 4; ++i) {
        const qreal a = Pi / 4 + i * Pi / 2;
        p.drawEllipse(centre + QPointF(arm * std::cos(a), arm * std::sin(a)), 0.15 * s, 0.15 * s);
    }
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(255, 140, 30));
    p.drawEllipse(centre, 0.1 * s, 0.1 * s);
    p.end();
    return image;
}

void put16(std::string& out, unsigned v) { out += char(v & 0xff), out += char((v >> 8) & 0xff); }
void put32(std::string& out, unsigned v) { put16(out, v & 0xffff), put16(out, v >> 16); }

// An .ico file with 32-bit uncompressed entries (BMP header, bottom-up BGRA rows, then
// the 1-bit AND mask, which alpha makes irrelevant but readers expect).
bool writeIcon(const std::string& path)
{
    const int sizes[] = {16, 32, 48, 64};
    std::vector<std::string> entries;
    for (int size : sizes) {
        const QImage image = drawIcon(size);
        std::string bmp;
        put32(bmp, 40), put32(bmp, unsigned(size)), put32(bmp, unsigned(2 * size));
        put16(bmp, 1), put16(bmp, 32), put32(bmp, 0);
        const unsigned maskStride = unsigned(((size + 31) / 32) * 4);
        put32(bmp, unsigned(size * size * 4) + maskStride * unsigned(size));
        put32(bmp, 0), put32(bmp, 0), put32(bmp, 0), put32(bmp, 0);
        for (int y = size - 1; y >= 0; --y)
            for (int x = 0; x < size; ++x) {
                const QRgb c = image.pixel(x, y);
                bmp += char(qBlue(c)), bmp += char(qGreen(c)), bmp += char(qRed(c)), bmp += char(qAlpha(c));
            }
        bmp.append(maskStride * unsigned(size), '\0');
        entries.push_back(bmp);
    }
    std::string file;
    put16(file, 0), put16(file, 1), put16(file, unsigned(entries.size()));
    unsigned offset = 6 + 16 * unsigned(entries.size());
    for (size_t i = 0; i < entries.size(); ++i) {
        file += char(sizes[i] & 0xff), file += char(sizes[i] & 0xff), file += char(0), file += char(0);
        put16(file, 1), put16(file, 32), put32(file, unsigned(entries[i].size())), put32(file, offset);
        offset += unsigned(entries[i].size());
    }
    for (const std::string& entry : entries)
        file += entry;
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(file.data(), std::streamsize(file.size()));
    return bool(out);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::string(argv[1]) == "--icon-png") {
        const int size = std::atoi(argv[2]);
        if (size < 16 || size > 1024) {
            std::fprintf(stderr, "icon size %s is not in 16..1024\n", argv[2]);
            return 2;
        }
        if (!drawIcon(size).save(QString::fromLocal8Bit(argv[3]), "PNG")) {
            std::fprintf(stderr, "cannot write %s\n", argv[3]);
            return 1;
        }
        return 0;
    }
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s <media folder> <icon file>\n       %s --icon-png <size> <png file>\n", argv[0],
                     argv[0]);
        return 2;
    }
    const std::string folder = argv[1];
    if (!QDir().mkpath(QString::fromStdString(folder))) {
        std::fprintf(stderr, "cannot create %s\n", folder.c_str());
        return 1;
    }
    try {
        auto logs = std::make_unique<Ogre::LogManager>();
        logs->createLog("", true, false, true);
        auto root = std::make_unique<Ogre::Root>("", "", "");
        auto buffers = std::make_unique<Ogre::DefaultHardwareBufferManager>();
        Ogre::MaterialManager::getSingleton().initialise();
        for (const media::NamedMesh& named : media::buildAircraftMeshes())
            exportMesh(named, folder);
        buffers.reset();
        root.reset();
    } catch (const Ogre::Exception& e) {
        std::fprintf(stderr, "mesh export failed: %s\n", e.getFullDescription().c_str());
        return 1;
    }
    if (!writeClouds(QString::fromStdString(folder + "/quvor_clouds.png")) ||
        !writeGrass(QString::fromStdString(folder + "/quvor_grass.png"))) {
        std::fprintf(stderr, "cannot write the textures into %s\n", folder.c_str());
        return 1;
    }
    if (!writeIcon(argv[2])) {
        std::fprintf(stderr, "cannot write %s\n", argv[2]);
        return 1;
    }
    return 0;
}
