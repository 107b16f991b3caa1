// veltora draw FILE -o OUT.png --size WxH [--angle DEG] [--crop L,T,R,B]
// [--whiten P]: DrawImage onto a white cairo image surface of W x H, which
// is then written as PNG.
//
// The host reaches cairo as it reaches the plug-in, at run time (dlopen of
// the system's libcairo.so.2, which the plug-in itself loads anyway), so the
// executable keeps linking nothing but its own helpers.
#include <dlfcn.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <string>

#include "host/command.h"
#include "host/command_options.h"
#include "host/file_runner.h"
#include "host/host_error.h"
#include "host/output_path.h"

namespace veltora::host {
namespace {

// The few cairo calls the command needs, with cairo's own signatures.
typedef struct _cairo_surface cairo_surface_t;
constexpr int kCairoFormatRgb24 = 1;  // CAIRO_FORMAT_RGB24
constexpr int kCairoStatusSuccess = 0;

class Cairo {
 public:
  Cairo() : handle_(dlopen("libcairo.so.2", RTLD_NOW | RTLD_LOCAL)) {
    if (handle_ == nullptr) throw HostError(std::string("cannot load cairo: ") + dlerror());
    Bind(image_surface_create, "cairo_image_surface_create");
    Bind(surface_status, "cairo_surface_status");
    Bind(create, "cairo_create");
    Bind(set_source_rgb, "cairo_set_source_rgb");
    Bind(paint, "cairo_paint");
    Bind(write_to_png, "cairo_surface_write_to_png");
    Bind(destroy, "cairo_destroy");
    Bind(surface_destroy, "cairo_surface_destroy");
  }
  ~Cairo() { dlclose(handle_); }
  Cairo(const Cairo&) = delete;
  Cairo& operator=(const Cairo&) = delete;

  cairo_surface_t* (*image_surface_create)(int, int, int) = nullptr;
  int (*surface_status)(cairo_surface_t*) = nullptr;
  cairo_t* (*create)(cairo_surface_t*) = nullptr;
  void (*set_source_rgb)(cairo_t*, double, double, double) = nullptr;
  void (*paint)(cairo_t*) = nullptr;
  int (*write_to_png)(cairo_surface_t*, const char*) = nullptr;
  void (*destroy)(cairo_t*) = nullptr;
  void (*surface_destroy)(cairo_surface_t*) = nullptr;

 private:
  template <typename Fn>
  void Bind(Fn& fn, const char* name) {
    fn = reinterpret_cast<Fn>(dlsym(handle_, name));
    if (fn == nullptr) throw HostError(std::string("cairo lacks ") + name);
  }
  void* handle_;
};

struct DrawOptions {
  FileOptions files;
  std::string output;
  bool force = false;
  std::string size;
  double angle = 0;
  std::string crop;
  std::optional<int32_t> whiten;
  int32_t width = 0, height = 0;
  RECT crop_rect{0, 0, 0, 0};
};

// The checks the plug-in makes too, made here first so that a typing error
// is a usage error rather than E_INVALIDARG.
void ParseOptions(DrawOptions& options) {
  char tail = 0;
  if (std::sscanf(options.size.c_str(), "%dx%d%c", &options.width, &options.height, &tail) != 2 ||
      options.width < 1 || options.height < 1 || options.width > 65535 || options.height > 65535) {
    throw HostError("--size takes WxH, each side 1 to 65535");
  }
  if (!options.crop.empty()) {
    RECT& r = options.crop_rect;
    if (std::sscanf(options.crop.c_str(), "%d,%d,%d,%d%c", &r.left, &r.top, &r.right, &r.bottom, &tail) != 4) {
      throw HostError("--crop takes L,T,R,B");
    }
  }
  if (!(std::fabs(options.angle) <= 360.0)) throw HostError("--angle takes degrees from -360 to 360");
}

int RunDraw(Host& host, DrawOptions& options) {
  ParseOptions(options);
  if (options.files.files.size() > 1) throw HostError("draw takes one FILE");
  const auto draw_image = VELTORA_EXPORT(host.plugin(), DrawImage);
  Cairo cairo;
  const PictureOutput output(options.output, options.force, "drawing.png");
  return ForEachFile(host, options.files, [&](FileReport& report) {
    if (const auto refusal = output.Refusal(report.path())) return report.Fail(*refusal, "output refused");
    cairo_surface_t* surface = cairo.image_surface_create(kCairoFormatRgb24, options.width, options.height);
    cairo_t* dc = cairo.create(surface);
    cairo.set_source_rgb(dc, 1, 1, 1);
    cairo.paint(dc);
    const auto hundredths = static_cast<int32_t>(std::lround(options.angle * 100));
    const RECT& crop = options.crop_rect;
    const HRESULT drawn =
        draw_image(report.path().c_str(), dc, 0, 0, options.width, options.height, hundredths, crop.left, crop.top,
                   crop.right, crop.bottom, options.whiten.has_value() ? 1 : 0, options.whiten.value_or(0));
    if (report.Check("DrawImage", drawn)) {
      if (cairo.write_to_png(surface, output.path().c_str()) != kCairoStatusSuccess) {
        report.Fail("cannot write " + options.output);
      } else {
        report.Set("Output", options.output);
        report.Set("Width", options.width);
        report.Set("Height", options.height);
        output.Finish();
      }
    }
    cairo.destroy(dc);
    cairo.surface_destroy(surface);
  }, output.to_stdout() ? PrintNothing : PrintFields);
}

CommandAction SetUpDraw(CLI::App& command) {
  CommandOptions add(command);
  auto options = std::make_shared<DrawOptions>();
  AddFileOptions(command, options->files);
  AddPictureOutputOptions(command, options->output, options->force, "Write the drawing to OUT.png (- : stdout)");
  add.Option("--size", options->size, "Size of the drawing, WxH").Required();
  add.Option("--angle", options->angle, "Turn the picture clockwise by DEG degrees (0.01 steps)");
  add.Option("--crop", options->crop, "Keep L,T,R,B of the turned picture");
  add.Option("--whiten", options->whiten, "Whiten the picture by P percent");
  return [options](Host& host) { return RunDraw(host, *options); };
}

const CommandRegistration kDraw({"draw", "Draw a picture turned, cropped and whitened into a PNG", 420, &SetUpDraw});

}  // namespace
}  // namespace veltora::host
