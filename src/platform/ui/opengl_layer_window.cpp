#include "platform/ui/opengl_layer_window.h"

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

// True when `context` can copy between framebuffers (glBlitFramebuffer).
bool canBlit(const QOpenGLContext& context) {
    const QSurfaceFormat format = context.format();
    return format.majorVersion() >= 3 ||
           context.hasExtension(QByteArrayLiteral("GL_ARB_framebuffer_object"));
}

bool probeThreadedOpenGL() {
    if (QGuiApplication::platformName() == QLatin1String("offscreen") ||
        !QOpenGLContext::supportsThreadedOpenGL()) {
        return false;
    }
    QOpenGLContext context;
    if (!context.create()) {
        return false;
    }
    QOffscreenSurface surface;
    surface.setFormat(context.format());
    surface.create();
    if (!surface.isValid() || !context.makeCurrent(&surface)) {
        return false;
    }
    const bool usable = canBlit(context);
    context.doneCurrent();
    return usable;
}

// The picture's pixels and the GL objects they go through, owned by the present thread.
class Blitter {
  public:
    explicit Blitter(QOpenGLContext& context) : context_(context) {}

    // Draws `picture` at the window's top-left, black around it, into the bound context's
    // window framebuffer of `window` device pixels.
    void draw(const QImage& picture, QSize window) {
        QOpenGLExtraFunctions& gl = *context_.extraFunctions();
        if (texture_ == 0) {
            gl.glGenTextures(1, &texture_);
            gl.glGenFramebuffers(1, &framebuffer_);
        }
        gl.glBindTexture(GL_TEXTURE_2D, texture_);
        if (picture.size() != textureSize_) {
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_NEAREST);
            gl.glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_NEAREST);
            gl.glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA8, picture.width(), picture.height(), 0,
                            GL_BGRA, GL_UNSIGNED_BYTE, nullptr);
            textureSize_ = picture.size();
            gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
            gl.glFramebufferTexture2D(GL_READ_FRAMEBUFFER, GL_COLOR_ATTACHMENT0, GL_TEXTURE_2D,
                                      texture_, 0);
        }
        // The composed picture is 32-bit premultiplied ARGB: in memory B, G, R, A on this
        // little-endian machine, which is GL's BGRA.
        gl.glPixelStorei(GL_UNPACK_ALIGNMENT, 4);
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, int(picture.bytesPerLine() / 4));
        gl.glTexSubImage2D(GL_TEXTURE_2D, 0, 0, 0, picture.width(), picture.height(), GL_BGRA,
                           GL_UNSIGNED_BYTE, picture.constBits());
        gl.glPixelStorei(GL_UNPACK_ROW_LENGTH, 0);

        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, framebuffer_);
        gl.glBindFramebuffer(GL_DRAW_FRAMEBUFFER, context_.defaultFramebufferObject());
        gl.glViewport(0, 0, window.width(), window.height());
        if (picture.size() != window) {
            gl.glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
            gl.glClear(GL_COLOR_BUFFER_BIT);
        }
        // The picture's first row is its top; GL's is its bottom: the copy turns it over, and
        // puts it against the window's top edge.
        const int w = picture.width();
        const int h = picture.height();
        gl.glBlitFramebuffer(0, h, w, 0, 0, window.height() - h, w, window.height(),
                             GL_COLOR_BUFFER_BIT, GL_NEAREST);
        gl.glBindFramebuffer(GL_READ_FRAMEBUFFER, 0);
    }

    // Frees the GL objects; the context must be current.
    void release() {
        if (texture_ != 0) {
            QOpenGLExtraFunctions& gl = *context_.extraFunctions();
            gl.glDeleteFramebuffers(1, &framebuffer_);
            gl.glDeleteTextures(1, &texture_);
            texture_ = 0;
            framebuffer_ = 0;
        }
    }

  private:
    QOpenGLContext& context_;
    GLuint texture_ = 0;
    GLuint framebuffer_ = 0;
    QSize textureSize_;
};

}  // namespace

bool OpenGLLayerWindow::isAvailable() {
    static const bool available = probeThreadedOpenGL();
    return available;
}

OpenGLLayerWindow::OpenGLLayerWindow(RunLoop& loop, QScreen* screen)
    : QWindow(screen), loop_(loop), publisher_(loop), presenter_(loop.hostClock()) {
    setSurfaceType(QSurface::OpenGLSurface);
    presenter_.setSource(publisher_.slot(), shared_);
}

OpenGLLayerWindow::~OpenGLLayerWindow() {
    stopPresenting();
}

void OpenGLLayerWindow::setRootLayer(std::shared_ptr<Layer> root) {
    root_ = std::move(root);
    if (root_) {
        root_->setFrame({0.0, 0.0, double(width()), double(height())});
    }
    publisher_.setRoot(root_);
}

void OpenGLLayerWindow::setSharedCompositions(std::shared_ptr<SharedCompositions> shared) {
    shared_ = shared ? std::move(shared) : std::make_shared<SharedCompositions>();
    presenter_.setSource(publisher_.slot(), shared_);
}

void OpenGLLayerWindow::setFrameRate(double hz) {
    requestedRate_ = hz > 0.0 && std::isfinite(hz) ? hz : 0.0;
    presenter_.setRefreshRate(frameRate());
}

double OpenGLLayerWindow::frameRate() const {
    if (requestedRate_ > 0.0) {
        return requestedRate_;
    }
    const QScreen* s = screen();
    const double rate = s ? s->refreshRate() : 0.0;
    return rate >= 1.0 && std::isfinite(rate) ? rate : 60.0;
}

QSize OpenGLLayerWindow::devicePixels() const {
    const qreal ratio = devicePixelRatio();
    return {qRound(width() * ratio), qRound(height() * ratio)};
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
    if (root_) {
        root_->setFrame({0.0, 0.0, size.width, size.height});
    }
    if (onLayout) {
        onLayout(size);
    }
    // The new size and the layout for it reach the presenter together.
    publisher_.publish();
    const QSize pixels = devicePixels();
    pixelWidth_ = pixels.width();
    pixelHeight_ = pixels.height();
    presenter_.setSize(pixels);
}

void OpenGLLayerWindow::startPresenting() {
    if (presentThread_.joinable()) {
        return;
    }
    const QSize pixels = devicePixels();
    pixelWidth_ = pixels.width();
    pixelHeight_ = pixels.height();
    presenter_.setSize(pixels);
    presenter_.setRefreshRate(frameRate());
    presenter_.start();
    stopping_ = false;
    presentThread_ = std::thread([this] { presentLoop(); });
}

void OpenGLLayerWindow::stopPresenting() {
    presenter_.stop();
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
    Blitter blitter(context);
    std::uint64_t shown = presenter_.newestFrame().refresh;
    const std::shared_ptr<const HostClock> clock = loop_.hostClock();
    while (!stopping_) {
        if (!presenter_.waitForRefresh(shown + 1, kPollSeconds)) {
            continue;
        }
        const PresentedFrame frame = presenter_.newestFrame();
        shown = frame.refresh;
        const QSize window(pixelWidth_.load(), pixelHeight_.load());
        if (frame.image.isNull() || !exposed_ || window.isEmpty() || !context.makeCurrent(this)) {
            continue;
        }
        const double began = steadySeconds();
        blitter.draw(frame.image, window);
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
    }
    if (context.makeCurrent(this)) {
        blitter.release();
        context.doneCurrent();
    }
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
