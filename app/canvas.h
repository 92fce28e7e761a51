#pragma once

#include "decode/decoded_image.h"
#include "view/geometry.h"
#include "view/view_state.h"

#include <QOpenGLBuffer>
#include <QOpenGLFunctions>
#include <QOpenGLShaderProgram>
#include <QOpenGLWidget>
#include <QPainter>

#include <functional>
#include <memory>
#include <vector>

namespace app {

// A tile's place in the bitmap, in bitmap pixels.
struct TileRect {
    uint32_t x = 0;
    uint32_t y = 0;
    uint32_t width = 0;
    uint32_t height = 0;
};

// Row-major tiles of at most maxTile × maxTile covering a width × height bitmap; none for an empty one.
std::vector<TileRect> SplitIntoTiles(uint32_t width, uint32_t height, uint32_t maxTile);

// What one frame is drawn from, read by the canvas at each paint.
struct FrameInputs {
    const view::ViewState* viewState = nullptr;
    // The top of the image region: below the pinned title bar, or 0.
    std::function<float()> regionTop;
    // Draws the overlays (messages, notices, welcome screen) and then the information panel's layer
    // over the finished frame, asking for the painter only when there is something to draw.
    std::function<void(const std::function<QPainter&()>& painter)> paintOverlays;
};

// The window's drawing surface: clears to the background grey and draws the image in view as a
// texture under the view's transform, over the transparency checkerboard. Drawing units are the
// widget's pixels (the process runs without Qt's device-pixel scaling, so they are screen pixels).
// Window thread only.
class Canvas : public QOpenGLWidget, protected QOpenGLFunctions {
    Q_OBJECT

public:
    explicit Canvas(FrameInputs inputs, QWidget* parent = nullptr);
    ~Canvas() override;

    // Takes an image into view (the device bitmap of the current image). The pixels are shared, not
    // copied; the texture is made at the next paint. An invalid record clears the view.
    void SetImage(const decode::DecodedImage& image);
    void ClearImage();
    bool HasImage() const;
    const decode::DecodedImage& Image() const { return image; }
    // The size the view places the image at: its source size (the bitmap may be a reduced decode).
    float ImageWidth() const { return static_cast<float>(decode::SourceWidthOf(image)); }
    float ImageHeight() const { return static_cast<float>(decode::SourceHeightOf(image)); }

    // False when the GL context could not be made or the shaders did not build; nothing is drawn then.
    bool GraphicsReady() const { return graphicsReady; }
    // Caps the tiles below the GL limit (0: the GL limit only); takes effect with the next image upload.
    void SetMaxTileSize(uint32_t size) {
        maxTileSize = size;
        textureDirty = true;
    }
    size_t TileCount() const { return tiles.size(); }

protected:
    void initializeGL() override;
    void paintGL() override;

private:
    void UploadTexture();
    void DrawSingleImage();
    void ReleaseTexture();

    FrameInputs inputs;
    decode::DecodedImage image;
    bool textureDirty = false;
    bool graphicsReady = false;
    struct Tile {
        GLuint id = 0;
        TileRect core;             // the part of the bitmap the tile draws
        TileRect extent;           // the part its texture holds: the core and its apron
        bool mipmapsReady = false; // the mipmap chain exists (made on the first high-quality shrink)
    };
    std::vector<Tile> tiles; // one texture, or a grid of them for a bitmap beyond the GL limit
    GLint maxTextureSize = 0;
    uint32_t maxTileSize = 0;
    // How a fragment reads the bitmap; one shader program each, with and without the corrections.
    enum class Sampler { Texture, Cubic, Soften, Sharpen };
    struct ProgramSlot {
        QOpenGLShaderProgram program;
        bool tried = false;
        bool ready = false;
    };
    // The program for a way of sampling, built on first use; null when it did not build.
    QOpenGLShaderProgram* Program(Sampler sampler, bool corrections);
    ProgramSlot imagePrograms[8];
    QOpenGLBuffer quad{QOpenGLBuffer::VertexBuffer};
};

// GL sampling for the "InterpolationMode" setting: 0 nearest, anything else linear.
GLint TextureFilterFor(int32_t interpolationMode);

// Screen pixels per texel along one axis for the image transform `matrix` (a texture of textureWidth
// texels across an image imageWidth pixels wide).
float ScreenPixelsPerTexel(const view::Matrix3x2& matrix, float imageWidth, float textureWidth);
// The mipmap level high-quality cubic reads when shrinking: the coarsest level that is still not
// enlarged, so the cubic kernel shrinks it by less than two and skips no texels; 0 when not shrinking.
uint32_t MipLevelFor(float screenPixelsPerTexel, uint32_t textureWidth, uint32_t textureHeight);

} // namespace app
