#include "platform/ui/opengl_layer_window.h"

#include "platform/runloop/console.h"

#include <QExposeEvent>
#include <QGuiApplication>
#include <QOffscreenSurface>
#include <QOpenGLContext>
#include <QOpenGLExtraFunctions>
#include <QResizeEvent>
#include <QScreen>
#include <chrono>
#include <cmath>

namespace kestio::platform {

namespace {

constexpr std::size_t kRecordLimit = 4096;
// How long the present thread waits for a picture before it looks at its stop flag again.
constexpr double kPollSeconds = 0.02;

double steadySeconds() {
    using namespace std::chrono;
    return duration<double>(steady_clock::now().time_since_epoch()).count();
}

// True when `context` runs the picture's drawing program (GLSL 1.30 or GLSL ES 3.00, vertex
// arrays) and, on OpenGL ES, takes BGRA pixels.
bool canDraw(const QOpenGLContext& context) {
    return context.format().majorVersion() >= 3 &&
           (!context.isOpenGLES() ||
            context.hasExtension(QByteArrayLiteral("GL_EXT_texture_format_BGRA8888")));
}

// Whether the platform has usable threaded OpenGL, and its renderer's name.
OpenGLSupport probeThreadedOpenGL() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        !QOpenGLContext::supportsThreadedOpenGL()) {
        return {};
    }
    QOpenGLContext context;
    if (!context.create()) {
        return {};
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        return {};
    }
    const auto* name = reinterpret_cast<const char*>(context.functions()->glGetString(GL_RENDERER));
    OpenGLSupport support{canDraw(context), name ? name : ""};
    context.doneCurrent();
    return support;
}

// The picture's pixels and the GL objects they go through, owned by the present thread.
//
// Each picture is copied once into a texture made once per picture size, in the layout it already
// has (no conversion on the way), then drawn into the window's back buffer by one quad. A quad is
// used rather than a framebuffer copy: it turns the picture the right way up as it draws, where a
// flipping copy costs a software rasteriser twice as much, and it writes opaque pixels.
class PictureDrawer {
  public:
    explicit PictureDrawer(QOpenGLContext& context) : context_(context) {}

    // False when the drawing program cannot be made; then draw() must not be called.
    bool prepare() {
        QOpenGLExtraFunctions& gl = *context_.extraFunctions();
        const bool es = context_.isOpenGLES();
        const QByteArray version =
            es ? "#version 300 es\nprecision mediump float;\n" : "#version 130\n";
        // The picture's corners from the vertex number: 0 bottom left, 1 bottom right, 2 top
        // left, 3 top right. The picture's first row is its top, GL's is its bottom.
        const QByteArray vertex = version + R"(
            out vec2 texturePoint;
            void main() {
                vec2 corner = vec2(float(gl_VertexID & 1), float(gl_VertexID >> 1));
                texturePoint = vec2(corner.x, 1.0 - corner.y);
                gl_Position = vec4(corner * 2.0 - 1.0, 0.0, 1.0);
            })";
        const QByteArray fragment = version + R"(
            in vec2 texturePoint;
            out vec4 colour;
            uniform sampler2D picture;
            void main() { colour = vec4(texture(picture, texturePoint).rgb, 1.0); })";
        program_ = gl.glCreateProgram();
        const GLuint shaders[] = {compile(gl, GL_VERTEX_SHADER, vertex),
                                  compile(gl, GL_FRAGMENT_SHADER, fragment)};
        for (GLuint shader : shaders) {
            gl.glAttachShader(program_, shader);
            gl.glDeleteShader(shader);
        }
        gl.glLinkProgram(program_);
        GLint linked = GL_FALSE;
        gl.glGetProgramiv(program_, GL_LINK_STATUS, &linked);
        gl.glGenVertexArrays(1, &vertexArray_);
        gl.glGenTextures(1, &texture_);
        // Desktop GL takes 32-bit pixels whose bytes run B, G, R, A as BGRA packed in reverse,
        // which its drivers store as they are; OpenGL ES knows BGRA only as bytes.
        uploadType_ = es ? GL_UNSIGNED_BYTE : GL_UNSIGNED_INT_8_8_8_8_REV;
        uploadInternal_ = es ? GL_BGRA : GL_RGBA8;
        return linked == GL_TRUE;
    }

    // Draws `picture` at the window's top-left, black around it, into the bound context's
    // window framebuffer of `window` device pixels.
    void draw(const QImage& picture, QSize window) {
        QOpenGLExtraFunctions& gl = *context_.extraFunctions();
        gl.glBindFramebuffer(GL_FRAMEBUFFER, context_.defaultFramebufferObject());
        gl.glActiveTexture(GL_TEXTURE0);
        gl.glBindTexture(GL_TEXTURE_2D, texture_);
        if (picture.size() != textureSize_) {
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_S, GL_CLAMP_TO_EDGE);
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_WRAP_T, GL_CLAMP_TO_EDGE);
            gl.glTexImage2D(GL_TEXTURE_2D, 0, GLint(uploadInternal_), picture.width(),
                            picture.height(), 0, GL_BGRA, uploadType_, nullptr);
            textureSize_ = picture.size();
        }
        // The composed picture is 32-bit (premultiplied) ARGB: in memory B, G, R, A on this
        // little-endian machine.
        gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, int(picture.bytesPerLine() / 4));
        gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, picture.width(), picture.height(), GL_BGRA,
                           uploadType_, picture.constBits());
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

        if (picture.size() != window) {
            gl.glViewport(0, 0, window.width(), window.height());
            gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
            gl.glClear(GL_COLOR_BUFFER_BIT);
        }
        // Premultiplied over black: the colour channels as they are, opaque.
        gl.glViewport(0, window.height() - picture.height(), picture.width(), picture.height());
        gl.glUseProgram(program_);
        gl.glBindVertexArray(vertexArray_);
        gl.glDrawArrays(GL_TRIANGLE_STRIP, 0, 4);
        gl.glBindVertexArray(0);
    }

    // Frees the GL objects; the context must be current.
    void release() {
        QOpenGLExtraFunctions& gl = *context_.extraFunctions();
        gl.glDeleteTextures(1, &texture_);
        gl.glDeleteVertexArrays(1, &vertexArray_);
        gl.glDeleteProgram(program_);
        texture_ = vertexArray_ = program_ = 0;
    }

  private:
    static GLuint compile(QOpenGLExtraFunctions& gl, GLenum kind, const QByteArray& source) {
        const GLuint shader = gl.glCreateShader(kind);
        const char* text = source.constData();
        gl.glShaderSource(shader, 1, &text, nullptr);
        gl.glCompileShader(shader);
        return shader;
    }

    QOpenGLContext& context_;
    GLuint program_ = 0;
    GLuint vertexArray_ = 0;
    GLuint texture_ = 0;
    GLenum uploadType_ = GL_UNSIGNED_BYTE;
    GLenum uploadInternal_ = GL_RGBA8;
    QSize textureSize_;
};

}  // namespace

const OpenGLSupport& OpenGLLayerWindow::support() {
    static const OpenGLSupport probed = probeThreadedOpenGL();
    return probed;
}

bool OpenGLLayerWindow::isAvailable() {
    return support().threaded;
}

OpenGLLayerWindow::OpenGLLayerWindow(RunLoop& loop, QScreen* screen)
    : QWindow(screen), loop_(loop), presentation_(loop) {
    setSurfaceType(QSurface::OpenGLSurface);
}

OpenGLLayerWindow::~OpenGLLayerWindow() {
    stopPresenting();
    alive_.reset();
}

void OpenGLLayerWindow::setRootLayer(std::shared_ptr<Layer> root) {
    presentation_.setRootLayer(std::move(root), {double(width()), double(height())});
}

void OpenGLLayerWindow::setSharedCompositions(std::shared_ptr<SharedCompositions> shared) {
    presentation_.setSharedCompositions(std::move(shared));
}

void OpenGLLayerWindow::setFrameRate(double hz) {
    presentation_.setFrameRate(hz, screen());
}

double OpenGLLayerWindow::frameRate() const {
    return presentation_.frameRate(screen());
}

QSize OpenGLLayerWindow::devicePixels() const {
    return platform::devicePixels(size(), devicePixelRatio());
}

void OpenGLLayerWindow::showEvent(QShowEvent* event) {
    QWindow::showEvent(event);
    startPresenting();
}

void OpenGLLayerWindow::hideEvent(QHideEvent* event) {
    stopPresenting();
    QWindow::hideEvent(event);
}

void OpenGLLayerWindow::exposeEvent(QExposeEvent* event) {
    exposed_ = isExposed();
    QWindow::exposeEvent(event);
}

void OpenGLLayerWindow::resizeEvent(QResizeEvent* event) {
    QWindow::resizeEvent(event);
    const SizeF size{double(event->size().width()), double(event->size().height())};
    const QSize pixels = devicePixels();
    pixelWidth_ = pixels.width();
    pixelHeight_ = pixels.height();
    presentation_.resize(size, pixels, onLayout);
}

void OpenGLLayerWindow::startPresenting() {
    if (presentThread_.joinable()) {
        return;
    }
    const QSize pixels = devicePixels();
    pixelWidth_ = pixels.width();
    pixelHeight_ = pixels.height();
    presentation_.start(pixels, screen());
    stopping_ = false;
    presentThread_ = std::thread([this] { presentLoop(); });
}

void OpenGLLayerWindow::stopPresenting() {
    presentation_.presenter().stop();
    if (presentThread_.joinable()) {
        stopping_ = true;
        presentThread_.join();
    }
}

void OpenGLLayerWindow::presentLoop() {
    // Made on this thread, so that it belongs to it, and gone with it.
    QOpenGLContext context;
    context.setFormat(requestedFormat());
    context.setScreen(screen());
    if (!context.create()) {
        return;
    }
    Presenter& presenter = presentation_.presenter();
    PictureDrawer drawer(context);
    bool prepared = false;
    std::vector<double> firstCosts;
    // One swap per refresh: with the display's vertical sync a second swap in one period waits
    // for the next one, and would put every later picture a refresh late. A refresh composed
    // again from a newer snapshot is shown when it is ready before the window takes the refresh.
    std::uint64_t shown = presenter.newestFrame().refresh;
    const std::shared_ptr<const HostClock> clock = loop_.hostClock();
    while (!stopping_) {
        if (!presenter.waitForRefresh(shown + 1, kPollSeconds)) {
            continue;
        }
        const PresentedFrame frame = presenter.newestFrame();
        shown = frame.refresh;
        const QSize window(pixelWidth_.load(), pixelHeight_.load());
        if (frame.image.isNull() || !exposed_ || window.isEmpty() || !context.makeCurrent(this)) {
            continue;
        }
        if (!prepared) {
            prepared = drawer.prepare();
            if (!prepared) {
                Console::log("output window: the OpenGL drawing program did not build");
                break;
            }
        }
        const double began = steadySeconds();
        drawer.draw(frame.image, window);
        context.swapBuffers(this);
        const PresentRecord record{frame.refresh, frame.targetTime, clock->now(),
                                   steadySeconds() - began};
        {
            std::lock_guard lock(recordsMutex_);
            records_.push_back(record);
            if (records_.size() > kRecordLimit) {
                records_.pop_front();
            }
            lastPresented_ = frame.refresh;
        }
        presented_.notify_all();
        if (firstCosts.size() < std::size_t(kMeasuredPresents)) {
            firstCosts.push_back(record.presentSeconds);
            if (firstCosts.size() == std::size_t(kMeasuredPresents)) {
                reportFirstCosts(firstCosts);
            }
        }
    }
    if (prepared && context.makeCurrent(this)) {
        drawer.release();
        context.doneCurrent();
    }
}

void OpenGLLayerWindow::reportFirstCosts(std::vector<double> costs) {
    std::weak_ptr<OpenGLLayerWindow*> weak = alive_;
    loop_.post([weak, costs = std::move(costs)] {
        const auto self = weak.lock();
        if (!self || !(*self)->onFirstPresents) {
            return;
        }
        // A copy: the handler may destroy the window, and with it the member.
        const auto handler = (*self)->onFirstPresents;
        handler(costs);
    });
}

std::vector<OpenGLLayerWindow::PresentRecord> OpenGLLayerWindow::takePresentRecords() {
    std::lock_guard lock(recordsMutex_);
    std::vector<PresentRecord> taken(records_.begin(), records_.end());
    records_.clear();
    return taken;
}

bool OpenGLLayerWindow::waitForPresent(std::uint64_t refresh, double wallSeconds) const {
    std::unique_lock lock(recordsMutex_);
    return presented_.wait_for(lock, std::chrono::duration<double>(wallSeconds),
                               [&] { return lastPresented_ >= refresh; });
}

}  // namespace kestio::platform
