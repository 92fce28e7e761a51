#include "app/canvas.h"

#include "platform/trace.h"
#include "view/geometry.h"

#include <algorithm>
#include <cmath>
#include <new>
#include <optional>

namespace app {

namespace {

// The frame's background: 32/255 grey, opaque.
constexpr float kBackgroundGrey = 32.0f / 255.0f;

// The quad is the unit square; the vertex shader stretches it to one tile's rectangle in bitmap
// pixels and applies the view matrix (row-vector convention: p' = p·M + d). A tile's texture reaches a
// few pixels beyond the tile (its apron) so that filters read the neighbours' pixels across tile edges.
constexpr const char* kVertexShader = R"(
attribute vec2 corner;
uniform vec2 tileOrigin; // the tile's top-left corner in bitmap pixels
uniform vec2 tileSize;   // the tile's size in bitmap pixels
uniform vec2 texOrigin;  // the tile texture's extent in bitmap pixels, apron included
uniform vec2 texSize;
uniform vec2 viewSize;
uniform vec4 linearPart; // m11, m12, m21, m22
uniform vec2 offset;
varying vec2 texCoord;
varying vec2 imagePosition;
void main() {
    vec2 p = tileOrigin + corner * tileSize;
    vec2 q = vec2(p.x * linearPart.x + p.y * linearPart.z + offset.x,
                  p.x * linearPart.y + p.y * linearPart.w + offset.y);
    gl_Position = vec4(q.x / viewSize.x * 2.0 - 1.0, 1.0 - q.y / viewSize.y * 2.0, 0.0, 1.0);
    texCoord = (p - texOrigin) / texSize;
    imagePosition = p;
}
)";

// One program per way of sampling (SAMPLER, a Sampler value) with or without the colour corrections
// (CORRECTIONS): a software rasteriser runs every branch of a shader that chooses at run time, which
// made the plain path pay for the soften kernel. Programs are built when first needed.
// Premultiplied BGRA arrives as premultiplied RGBA (uploaded with GL_BGRA). The transparency
// checkerboard (16 × 16 image pixels, 0xCC and 0x99 grey) is composited under the image in the same
// pass, so it scales and turns with the image. Colour corrections work on straight colour.
constexpr const char* kFragmentShader = R"(
#ifdef GL_ES
precision highp float;
#endif
uniform sampler2D image;
uniform vec2 imageSize;   // the bitmap's size in image pixels
uniform vec2 texOrigin;   // the tile texture's extent in bitmap pixels, apron included
uniform vec2 texSize;
uniform vec2 textureSize; // the sampled level's size in texels (smaller than the tile on a mip level)
uniform bool invertColors;
uniform bool gammaBoost;
varying vec2 texCoord;
varying vec2 imagePosition;

float CubicWeight(float x) {
    // Catmull-Rom (a = -0.5).
    x = abs(x);
    if (x < 1.0) {
        return (1.5 * x - 2.5) * x * x + 1.0;
    }
    if (x < 2.0) {
        return ((-0.5 * x + 2.5) * x - 4.0) * x + 2.0;
    }
    return 0.0;
}

vec4 SampleCubic(vec2 uv) {
    vec2 position = uv * textureSize - 0.5;
    vec2 base = floor(position);
    vec2 fraction = position - base;
    vec4 sum = vec4(0.0);
    for (int j = -1; j <= 2; ++j) {
        float wy = CubicWeight(float(j) - fraction.y);
        for (int i = -1; i <= 2; ++i) {
            float w = CubicWeight(float(i) - fraction.x) * wy;
            vec2 texel = clamp(base + vec2(float(i), float(j)), vec2(0.0), textureSize - 1.0);
            sum += w * texture2D(image, (texel + 0.5) / textureSize);
        }
    }
    sum.a = clamp(sum.a, 0.0, 1.0);
    sum.rgb = clamp(sum.rgb, vec3(0.0), vec3(sum.a));
    return sum;
}

// Outside the bitmap the soft border reads transparent, so the blur fades the bitmap's edges; across
// an inner tile edge the tile's own border texels stand in for the neighbour's.
vec4 SampleOrTransparent(vec2 uv) {
    vec2 position = texOrigin + uv * texSize;
    if (position.x < 0.0 || position.y < 0.0 || position.x > imageSize.x || position.y > imageSize.y) {
        return vec4(0.0);
    }
    return texture2D(image, clamp(uv, vec2(0.0), vec2(1.0)));
}

vec4 Soften(vec2 uv) {
    // Sigma 1.8 image pixels; the kernel ends at 5 pixels (2.8 sigma) and is normalised as a whole.
    vec2 pixel = 1.0 / texSize;
    vec4 sum = vec4(0.0);
    float total = 0.0;
    for (int j = -5; j <= 5; ++j) {
        for (int i = -5; i <= 5; ++i) {
            float w = exp(-float(i * i + j * j) / (2.0 * 1.8 * 1.8));
            sum += w * SampleOrTransparent(uv + vec2(float(i), float(j)) * pixel);
            total += w;
        }
    }
    return sum / total;
}

vec4 Sharpen(vec2 uv) {
    // Kernel 0 -1 0 / -1 5 -1 / 0 -1 0 on the colour; alpha is kept.
    vec2 pixel = 1.0 / texSize;
    vec4 centre = texture2D(image, uv);
    vec4 sum = 5.0 * centre - texture2D(image, uv - vec2(pixel.x, 0.0)) - texture2D(image, uv + vec2(pixel.x, 0.0)) -
               texture2D(image, uv - vec2(0.0, pixel.y)) - texture2D(image, uv + vec2(0.0, pixel.y));
    return vec4(clamp(sum.rgb, vec3(0.0), vec3(centre.a)), centre.a);
}

void main() {
#if SAMPLER == 3
    vec4 color = Sharpen(texCoord);
#elif SAMPLER == 2
    vec4 color = Soften(texCoord);
#elif SAMPLER == 1
    vec4 color = SampleCubic(texCoord);
#else
    vec4 color = texture2D(image, texCoord);
#endif
#if CORRECTIONS
    if (color.a > 0.0) {
        vec3 straight = color.rgb / color.a;
        if (invertColors) {
            straight = vec3(1.0) - straight;
        }
        if (gammaBoost) {
            straight = pow(straight, vec3(0.8));
        }
        color.rgb = straight * color.a;
    }
#endif
    vec2 cell = floor(imagePosition / 16.0);
    float board = mod(cell.x + cell.y, 2.0) < 0.5 ? 0.8 : 0.6;
    gl_FragColor = vec4(color.rgb + vec3(board) * (1.0 - color.a), 1.0);
}
)";

constexpr GLfloat kUnitQuad[] = {0, 0, 1, 0, 0, 1, 1, 1};

} // namespace

GLint TextureFilterFor(int32_t interpolationMode) {
    return interpolationMode == 0 ? GL_NEAREST : GL_LINEAR;
}

float ScreenPixelsPerTexel(const view::Matrix3x2& matrix, float imageWidth, float textureWidth) {
    // The transform's area scale gives screen pixels per image pixel whatever the rotation.
    const float perImagePixel = std::sqrt(std::fabs(matrix.m11 * matrix.m22 - matrix.m12 * matrix.m21));
    return textureWidth > 0 ? perImagePixel * imageWidth / textureWidth : 0.0f;
}

uint32_t MipLevelFor(float screenPixelsPerTexel, uint32_t textureWidth, uint32_t textureHeight) {
    if (!(screenPixelsPerTexel > 0.0f) || screenPixelsPerTexel >= 1.0f) {
        return 0;
    }
    uint32_t level = 0;
    float scale = screenPixelsPerTexel;
    // Stop while the level still has more than one texel along its shorter side.
    while (scale * 2.0f <= 1.0f && (textureWidth >> (level + 1)) > 0 && (textureHeight >> (level + 1)) > 0) {
        scale *= 2.0f;
        ++level;
    }
    return level;
}

Canvas::Canvas(FrameInputs inputs, QWidget* parent) : QOpenGLWidget(parent), inputs(std::move(inputs)) {
    setObjectName("SkimoraCanvas");
    // Pointer input belongs to the window; the canvas only draws.
    setAttribute(Qt::WA_TransparentForMouseEvents);
}

Canvas::~Canvas() {
    if (context() != nullptr) {
        makeCurrent();
        ReleaseTexture();
        quad.destroy();
        doneCurrent();
    }
}

void Canvas::SetImage(const decode::DecodedImage& newImage) {
    if (!decode::IsValidImage(newImage)) {
        ClearImage();
        return;
    }
    image = newImage;
    textureDirty = true;
    update();
}

void Canvas::ClearImage() {
    image = {};
    textureDirty = true;
    update();
}

bool Canvas::HasImage() const {
    return decode::IsValidImage(image);
}

void Canvas::initializeGL() {
    initializeOpenGLFunctions();
    glGetIntegerv(GL_MAX_TEXTURE_SIZE, &maxTextureSize);
    const bool built = Program(Sampler::Texture, false) != nullptr;
    const bool haveQuad = quad.create() && quad.bind();
    if (haveQuad) {
        quad.allocate(kUnitQuad, sizeof kUnitQuad);
        quad.release();
    }
    graphicsReady = built && haveQuad && maxTextureSize > 0;
    platform::TraceSinceProcessStart("GL ready");
    textureDirty = true;
}

QOpenGLShaderProgram* Canvas::Program(Sampler sampler, bool corrections) {
    const int index = static_cast<int>(sampler) * 2 + (corrections ? 1 : 0);
    ProgramSlot& slot = imagePrograms[index];
    if (!slot.tried) {
        slot.tried = true;
        const QByteArray fragment = "#define SAMPLER " + QByteArray::number(static_cast<int>(sampler)) +
                                    "\n#define CORRECTIONS " + QByteArray(corrections ? "1" : "0") + "\n" +
                                    kFragmentShader;
        QOpenGLShaderProgram& program = slot.program;
        slot.ready = program.addShaderFromSourceCode(QOpenGLShader::Vertex, kVertexShader) &&
                     program.addShaderFromSourceCode(QOpenGLShader::Fragment, fragment) &&
                     (program.bindAttributeLocation("corner", 0), program.link());
        if (!slot.ready) {
            platform::DebugTrace("[GL] image shader: " + program.log().toStdString());
        }
    }
    return slot.ready ? &slot.program : nullptr;
}

void Canvas::ReleaseTexture() {
    for (Tile& tile : tiles) {
        glDeleteTextures(1, &tile.id);
    }
    tiles.clear();
}

std::vector<TileRect> SplitIntoTiles(uint32_t width, uint32_t height, uint32_t maxTile) {
    std::vector<TileRect> rects;
    if (width == 0 || height == 0 || maxTile == 0) {
        return rects;
    }
    for (uint32_t y = 0; y < height; y += maxTile) {
        for (uint32_t x = 0; x < width; x += maxTile) {
            rects.push_back({x, y, std::min(maxTile, width - x), std::min(maxTile, height - y)});
        }
    }
    return rects;
}

void Canvas::UploadTexture() {
    textureDirty = false;
    ReleaseTexture();
    if (!decode::IsValidImage(image) || image.stride % 4 != 0) {
        return;
    }
    // A bitmap larger than the GL limit is drawn as a grid of textures at full resolution.
    uint32_t limit = static_cast<uint32_t>(maxTextureSize);
    if (maxTileSize > 0) {
        limit = std::min(limit, maxTileSize);
    }
    // Tiles keep an apron of neighbouring pixels inside the limit; a single tile needs none.
    constexpr uint32_t kApron = 8;
    const bool single = image.width <= limit && image.height <= limit;
    if (!single && limit <= 4 * kApron) {
        return;
    }
    const std::vector<TileRect> rects =
        SplitIntoTiles(image.width, image.height, single ? limit : limit - 2 * kApron);
    glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
    glPixelStorei(GL_UNPACK_ROW_LENGTH, static_cast<GLint>(image.stride / 4));
    for (const TileRect& core : rects) {
        const uint32_t left = core.x - std::min(core.x, kApron);
        const uint32_t top = core.y - std::min(core.y, kApron);
        const uint32_t right = std::min(image.width, core.x + core.width + kApron);
        const uint32_t bottom = std::min(image.height, core.y + core.height + kApron);
        const TileRect rect{left, top, right - left, bottom - top};
        Tile tile{0, core, rect, false};
        glGenTextures(1, &tile.id);
        glBindTexture(GL_TEXTURE_2D, tile.id);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
        const uint8_t* first =
            image.pixels.get() + static_cast<size_t>(rect.y) * image.stride + size_t{rect.x} * 4;
        glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, static_cast<GLsizei>(rect.width),
                     static_cast<GLsizei>(rect.height), 0, GL_BGRA, GL_UNSIGNED_BYTE, first);
        if (glGetError() != GL_NO_ERROR) {
            glDeleteTextures(1, &tile.id);
            platform::DebugTrace("[GL] image tile could not be made");
            glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
            ReleaseTexture();
            return;
        }
        tiles.push_back(tile);
    }
    glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);
    glBindTexture(GL_TEXTURE_2D, 0);
}

void Canvas::paintGL() {
    glClearColor(kBackgroundGrey, kBackgroundGrey, kBackgroundGrey, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    if (!graphicsReady) {
        return;
    }
    if (textureDirty) {
        UploadTexture();
    }
    if (!tiles.empty() && inputs.viewState != nullptr) {
        DrawSingleImage();
        platform::TraceSinceProcessStart(inputs.viewState->isPreview ? "first frame drawn (preview)"
                                                                     : "first frame drawn (full image)");
    }
    if (inputs.paintOverlays) {
        // A painter costs a paint-engine set-up on every frame: it is made only when something is drawn.
        std::optional<QPainter> painter;
        inputs.paintOverlays([&]() -> QPainter& {
            if (!painter) {
                painter.emplace(this);
                painter->setRenderHint(QPainter::Antialiasing);
                painter->setRenderHint(QPainter::TextAntialiasing);
            }
            return *painter;
        });
    }
}

void Canvas::DrawSingleImage() {
    const view::ViewState& state = *inputs.viewState;
    const auto renderWidth = static_cast<float>(width());
    const auto renderHeight = static_cast<float>(height());
    if (renderWidth <= 0 || renderHeight <= 0) {
        return;
    }
    const auto imageWidth = static_cast<float>(image.width);
    const auto imageHeight = static_cast<float>(image.height);
    const float top = inputs.regionTop ? inputs.regionTop() : 0.0f;
    // The view places the picture by its source size; the bitmap, whatever its resolution, is stretched
    // over that rectangle.
    const auto sourceWidth = static_cast<float>(decode::SourceWidthOf(image));
    const auto sourceHeight = static_cast<float>(decode::SourceHeightOf(image));
    const view::Matrix3x2 matrix =
        view::Matrix3x2::Scale(sourceWidth / imageWidth, sourceHeight / imageHeight) *
        view::ComputeImageTransform(state, sourceWidth, sourceHeight, renderWidth, renderHeight, top);

    // Any filter or correction resamples linearly whatever the interpolation setting.
    const bool sharpenOrSoften = state.imageFilter == 1 || state.imageFilter == 2;
    const bool effects = sharpenOrSoften || state.invertColors || state.gammaBoost;
    const int32_t mode = effects ? 1 : state.interpolationMode;
    const bool cubic = mode == 2 || mode == 3;

    // High-quality cubic shrinking reads a prefiltered mipmap level whose texels are at most two screen
    // pixels apart, so the cubic kernel never skips texels; enlarging uses the full-size level.
    const float perTexel = ScreenPixelsPerTexel(matrix, imageWidth, imageWidth);

    const Sampler sampler = state.imageFilter == 1   ? Sampler::Soften
                            : state.imageFilter == 2 ? Sampler::Sharpen
                            : cubic                  ? Sampler::Cubic
                                                     : Sampler::Texture;
    QOpenGLShaderProgram* program = Program(sampler, state.invertColors || state.gammaBoost);
    if (program == nullptr) {
        return;
    }
    QOpenGLShaderProgram& imageProgram = *program;
    imageProgram.bind();
    imageProgram.setUniformValue("image", 0);
    imageProgram.setUniformValue("imageSize", imageWidth, imageHeight);
    imageProgram.setUniformValue("viewSize", renderWidth, renderHeight);
    imageProgram.setUniformValue("linearPart", matrix.m11, matrix.m12, matrix.m21, matrix.m22);
    imageProgram.setUniformValue("offset", matrix.dx, matrix.dy);
    imageProgram.setUniformValue("invertColors", state.invertColors);
    imageProgram.setUniformValue("gammaBoost", state.gammaBoost);
    quad.bind();
    imageProgram.enableAttributeArray(0);
    imageProgram.setAttributeBuffer(0, GL_FLOAT, 0, 2);
    glActiveTexture(GL_TEXTURE0);

    const GLint filter = cubic ? GL_NEAREST : TextureFilterFor(mode);
    for (Tile& tile : tiles) {
        glBindTexture(GL_TEXTURE_2D, tile.id);
        const uint32_t level = mode == 3 ? MipLevelFor(perTexel, tile.extent.width, tile.extent.height) : 0;
        if (level > 0 && !tile.mipmapsReady) {
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, 0);
            glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, 1000);
            glGenerateMipmap(GL_TEXTURE_2D);
            tile.mipmapsReady = true;
        }
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_BASE_LEVEL, static_cast<GLint>(level));
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAX_LEVEL, static_cast<GLint>(level));
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, level > 0 ? GL_NEAREST_MIPMAP_NEAREST : filter);
        glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, filter);
        const auto setRect = [&imageProgram](const char* origin, const char* size, const TileRect& rect) {
            imageProgram.setUniformValue(origin, static_cast<float>(rect.x), static_cast<float>(rect.y));
            imageProgram.setUniformValue(size, static_cast<float>(rect.width),
                                         static_cast<float>(rect.height));
        };
        setRect("tileOrigin", "tileSize", tile.core);
        setRect("texOrigin", "texSize", tile.extent);
        imageProgram.setUniformValue("textureSize",
                                     static_cast<float>(std::max<uint32_t>(1, tile.extent.width >> level)),
                                     static_cast<float>(std::max<uint32_t>(1, tile.extent.height >> level)));
        glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
    }

    imageProgram.disableAttributeArray(0);
    quad.release();
    imageProgram.release();
    glBindTexture(GL_TEXTURE_2D, 0);
}

} // namespace app
