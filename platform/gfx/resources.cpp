// Resources of the software device: images (surfaces, textures, the back
// buffer), vertex and index buffers. A lock of an image that recorded draws
// still use runs the frame first.
#include <cstdio>
#include <emmintrin.h>
#include <new>

#include "platform/gfx/device_core.h"
#include "platform/gfx/spans.h"

namespace platform {

// ---------------------------------------------------------------------------
// Resources

SoftResource::SoftResource(DeviceCore* c, Pool p) : core(c), pool(p)
{
    if (core != nullptr) {
        core->live.insert(this);
        if (pool == PoolDefault) {
            ++core->defaultPoolCount;
        }
    }
}

SoftResource::~SoftResource()
{
    // The device's own back and depth surfaces were never counted.
    if (core != nullptr && core->live.erase(this) != 0 && pool == PoolDefault) {
        --core->defaultPoolCount;
    }
}

uint32_t SoftResource::Release()
{
    const uint32_t left = --refs;
    if (left == 0) {
        delete this;
    }
    return left;
}

const uint32_t* ImageData::Premultiplied()
{
    if (premultipliedVersion == version) {
        return premultiplied.data();
    }
    if (additiveReadVersion != version) {
        additiveReadVersion = version;
        return nullptr;
    }
    const TexView view = View();
    const size_t count = static_cast<size_t>(view.width) * static_cast<size_t>(view.height);
    if (view.texels == nullptr || count == 0) {
        return nullptr;
    }
    try {
        premultiplied.resize(count);
    } catch (const std::bad_alloc&) {
        premultiplied.clear();
        return nullptr;
    }
    // What the additive blend adds to black: each channel, alpha too, as
    // (c a + 127) / 255.
    const __m128i black = _mm_setzero_si128();
    size_t i = 0;
    for (; i + 4 <= count; i += 4) {
        const __m128i texels = _mm_loadu_si128(reinterpret_cast<const __m128i*>(view.texels + i));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(premultiplied.data() + i), Blend4<FastAdd>(texels, black));
    }
    for (; i < count; ++i) {
        premultiplied[i] = Blend1<FastAdd>(view.texels[i], 0);
    }
    premultipliedVersion = version;
    return premultiplied.data();
}

// Locks one image: flushes first when recorded draws still read or write it.
static GfxResult LockImage(DeviceCore* core, ImageData& image, LockedRect* out, const Rect* rect, uint32_t flags,
                           bool isTarget)
{
    if (out == nullptr) {
        return kGfxInvalidCall;
    }
    if (image.locked) {
        std::fprintf(stderr, "gfx: image already locked\n");
        return kGfxInvalidCall;
    }
    int32_t left = 0, top = 0;
    if (rect != nullptr) {
        if (rect->left < 0 || rect->top < 0 || rect->right > image.width || rect->bottom > image.height ||
            rect->left >= rect->right || rect->top >= rect->bottom) {
            std::fprintf(stderr, "gfx: lock rectangle (%d,%d)-(%d,%d) outside %dx%d\n", rect->left, rect->top,
                         rect->right, rect->bottom, image.width, image.height);
            return kGfxInvalidCall;
        }
        left = rect->left;
        top = rect->top;
    }
    if (core != nullptr && !core->frame.empty && (isTarget || image.useSerial == core->serial)) {
        core->FlushFrame();
    }
    const int bpp = image.format == FormatD32 ? 4 : FormatBytes(image.format);
    out->pitch = image.pitch;
    out->bits = image.bytes.data() + static_cast<size_t>(top) * image.pitch + static_cast<size_t>(left) * bpp;
    image.locked = true;
    image.lockedWrite = (flags & LockReadOnly) == 0;
    return kGfxOk;
}

static GfxResult UnlockImage(ImageData& image)
{
    if (!image.locked) {
        return kGfxInvalidCall;
    }
    image.locked = false;
    if (image.lockedWrite) {
        image.RefreshSamples();
    }
    return kGfxOk;
}

SoftSurface::SoftSurface(DeviceCore* c, Pool p, std::shared_ptr<ImageData> img) : SoftResource(c, p), image(std::move(img)) {}

SoftSurface::~SoftSurface()
{
    // Recorded copies may still read the pixels.
    if (core != nullptr && !core->frame.empty && image->useSerial == core->serial) {
        core->FlushFrame();
    }
}
int32_t SoftSurface::GetWidth() const { return image->width; }
int32_t SoftSurface::GetHeight() const { return image->height; }
uint32_t SoftSurface::GetFormat() const { return image->format; }
bool SoftSurface::IsLocked() const { return image->locked; }

GfxResult SoftSurface::LockRect(LockedRect* out, const Rect* rect, uint32_t flags)
{
    const bool isTarget = core != nullptr && (image == core->back || image == core->depth);
    const GfxResult r = LockImage(core, *image, out, rect, flags, isTarget);
    if (r == kGfxOk && core != nullptr && image == core->depth) {
        core->SettleAllDepth();
    }
    return r;
}

GfxResult SoftSurface::UnlockRect()
{
    return UnlockImage(*image);
}

SoftTexture::SoftTexture(DeviceCore* c, Pool p, std::shared_ptr<ImageData> img) : SoftResource(c, p), image(std::move(img)) {}

SoftTexture::~SoftTexture()
{
    // Recorded draws may still read the texels.
    if (core != nullptr && !core->frame.empty && image->useSerial == core->serial) {
        core->FlushFrame();
    }
}

int32_t SoftTexture::GetWidth() const { return image->width; }
int32_t SoftTexture::GetHeight() const { return image->height; }
uint32_t SoftTexture::GetFormat() const { return image->format; }

GfxResult SoftTexture::LockRect(uint32_t level, LockedRect* out, const Rect* rect, uint32_t flags)
{
    if (level != 0) {
        std::fprintf(stderr, "gfx: texture level %u does not exist\n", level);
        return kGfxInvalidCall;
    }
    return LockImage(core, *image, out, rect, flags, false);
}

GfxResult SoftTexture::UnlockRect(uint32_t level)
{
    if (level != 0) {
        return kGfxInvalidCall;
    }
    return UnlockImage(*image);
}

SoftVertexBuffer::SoftVertexBuffer(DeviceCore* c, Pool p, uint32_t length, uint32_t f)
    : SoftResource(c, p), data(length), fvf(f)
{
}

static GfxResult LockBuffer(std::vector<uint8_t>& data, bool& locked, uint32_t offset, uint32_t size, uint8_t** out)
{
    if (out == nullptr || locked) {
        return kGfxInvalidCall;
    }
    // Size 0 locks from the offset to the end.
    if (offset > data.size() || (size != 0 && size > data.size() - offset)) {
        std::fprintf(stderr, "gfx: buffer lock %u+%u outside %zu bytes\n", offset, size, data.size());
        return kGfxInvalidCall;
    }
    *out = data.data() + offset;
    locked = true;
    return kGfxOk;
}

GfxResult SoftVertexBuffer::Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t)
{
    // Draws take their vertices when recorded, so discard and no-overwrite
    // both just hand out the memory.
    return LockBuffer(data, locked, offset, size, out);
}

GfxResult SoftVertexBuffer::Unlock()
{
    if (!locked) {
        return kGfxInvalidCall;
    }
    locked = false;
    return kGfxOk;
}

SoftIndexBuffer::SoftIndexBuffer(DeviceCore* c, Pool p, uint32_t length, uint32_t f)
    : SoftResource(c, p), data(length), format(f)
{
}

GfxResult SoftIndexBuffer::Lock(uint32_t offset, uint32_t size, uint8_t** out, uint32_t)
{
    return LockBuffer(data, locked, offset, size, out);
}

GfxResult SoftIndexBuffer::Unlock()
{
    if (!locked) {
        return kGfxInvalidCall;
    }
    locked = false;
    return kGfxOk;
}

}  // namespace platform
