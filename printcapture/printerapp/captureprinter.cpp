// The printer application on PAPPL. Its one printer takes PDF as it is, JPEG pictures as they are
// (each on a page of its own) and raster pages (PNG pictures, PWG and Apple raster) row by row,
// and hands every job as a PDF file to the spool of the user who printed it.
#include "captureprinter.h"

#include <endian.h>
#include <grp.h>
#include <linux/posix_acl.h>
#include <linux/posix_acl_xattr.h>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <sys/xattr.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fstream>
#include <iterator>
#include <memory>
#include <optional>
#include <utility>

#include "jobfiling.h"
#include "picturepdf.h"

namespace {

constexpr const char* kDriverName = "velloran_capture";
constexpr const char* kPrinterName = "Velloran";
// A JPEG file larger than this is no picture anybody prints.
constexpr uintmax_t kMaxJpegBytes = uintmax_t{256} << 20;
constexpr int kResolution = 300;
constexpr int kMostWaitingJobs = 100;

// The sizes the queue offers; what is printed keeps its own page size in a PDF, so these matter
// for pictures and raster pages only.
const char* const kMedia[] = {"iso_a4_210x297mm", "na_letter_8.5x11in", "na_legal_8.5x14in",
                              "iso_a5_148x210mm", "iso_a3_297x420mm"};

std::optional<gid_t> GroupNamed(const char* name) {
  group entry{};
  group* found = nullptr;
  char buffer[16384];
  if (getgrnam_r(name, &entry, buffer, sizeof buffer, &found) != 0 || !found) return std::nullopt;
  return found->gr_gid;
}

// Who may connect to the socket, and so print: root, the spooler's backends (group lp), and the
// printer administrators (group lpadmin), whose lpadmin -m everywhere asks the printer what it
// takes. They can change every queue anyway; nobody else can reach the printer, so nobody else
// can put a job into a user's batch. Empty when done; otherwise why not.
std::string CloseSocketToStrangers(const std::filesystem::path& socket) {
  const std::optional<gid_t> spooler = GroupNamed("lp");
  if (!spooler || chown(socket.c_str(), geteuid(), *spooler) != 0) {
    // Without the spooler's group only this service's own user reaches the printer.
    chmod(socket.c_str(), 0600);
    return "the socket cannot be given to group lp (" + std::string(std::strerror(errno)) +
           "): only user " + std::to_string(geteuid()) + " can print";
  }
  chmod(socket.c_str(), 0660);
  const std::optional<gid_t> administrators = GroupNamed("lpadmin");
  if (!administrators) return {};
  // The access list: owner, group lp and group lpadmin may read and write, others nothing.
  struct Entry {
    uint16_t tag;
    uint16_t permissions;
    uint32_t id;
  };
  constexpr uint32_t kUndefined = 0xFFFFFFFF;
  const struct {
    uint32_t version;
    Entry entries[5];
  } list = {POSIX_ACL_XATTR_VERSION,
            {{htole16(ACL_USER_OBJ), htole16(ACL_READ | ACL_WRITE), htole32(kUndefined)},
             {htole16(ACL_GROUP_OBJ), htole16(ACL_READ | ACL_WRITE), htole32(kUndefined)},
             {htole16(ACL_GROUP), htole16(ACL_READ | ACL_WRITE), htole32(*administrators)},
             {htole16(ACL_MASK), htole16(ACL_READ | ACL_WRITE), htole32(kUndefined)},
             {htole16(ACL_OTHER), 0, htole32(kUndefined)}}};
  if (setxattr(socket.c_str(), "system.posix_acl_access", &list, sizeof list, 0) != 0) {
    return "printer administrators cannot reach the socket (" + std::string(std::strerror(errno)) +
           "): set the queue up as root";
  }
  return {};
}

// What the printer's callbacks share; PAPPL hands it back as the driver's extension.
struct PrinterContext {
  JobSpool spool;
};

PrinterContext& ContextOf(pappl_job_t* job) {
  pappl_pr_driver_data_t data;
  papplPrinterGetDriverData(papplJobGetPrinter(job), &data);
  return *static_cast<PrinterContext*>(data.extension);
}

const char* OrEmpty(const char* text) {
  return text ? text : "";
}

// Files the finished PDF `document` of `job` for the user who printed it.
bool FileDocument(pappl_job_t* job, const std::string& document) {
  const std::string user = OrEmpty(papplJobGetUsername(job));
  const std::string title = OrEmpty(papplJobGetName(job));
  const FilingResult filed =
      ContextOf(job).spool.File(document, user, title, papplJobGetID(job), std::time(nullptr));
  if (filed.file.empty()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "\"%s\" of %s not filed: %s", title.c_str(),
                user.c_str(), filed.problem.c_str());
    papplJobSetMessage(job, "Not captured: %s", filed.problem.c_str());
    return false;
  }
  papplLogJob(job, PAPPL_LOGLEVEL_INFO, "\"%s\" of %s filed as %s", title.c_str(), user.c_str(),
              filed.file.c_str());
  return true;
}

// A PDF made for a job in PAPPL's spool, removed once it is filed.
class MadePdf {
 public:
  explicit MadePdf(pappl_job_t* job) {
    char name[1024];
    const int handle = papplJobOpenFile(job, name, sizeof name, nullptr, "capture.pdf", "w");
    if (handle < 0) return;
    path_ = name;
    file_ = fdopen(handle, "wb");
    if (!file_) close(handle);
  }
  ~MadePdf() {
    if (file_) std::fclose(file_);
    if (!path_.empty()) std::remove(path_.c_str());
  }
  MadePdf(const MadePdf&) = delete;
  MadePdf& operator=(const MadePdf&) = delete;

  std::FILE* file() const { return file_; }
  // Closes the file; false when what was written did not reach it.
  bool Close() {
    const bool closed = file_ && std::fclose(file_) == 0;
    file_ = nullptr;
    return closed;
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
};

PageSize JobPage(pappl_job_t* job, bool colour) {
  pappl_pr_options_t* options = papplJobCreatePrintOptions(job, 1, colour);
  const PageSize page{PointsFromHundredthsOfMillimetre(options->media.size_width),
                      PointsFromHundredthsOfMillimetre(options->media.size_length)};
  papplJobDeletePrintOptions(options);
  return page;
}

bool PrintPdf(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  return FileDocument(job, OrEmpty(papplJobGetFilename(job)));
}

bool FilterJpeg(pappl_job_t* job, pappl_device_t*, void*) {
  const std::filesystem::path file = OrEmpty(papplJobGetFilename(job));
  std::error_code error;
  const uintmax_t size = std::filesystem::file_size(file, error);
  std::string data;
  if (!error && size <= kMaxJpegBytes) {
    data.resize(static_cast<size_t>(size));
    std::ifstream input(file, std::ios::binary);
    input.read(data.data(), static_cast<std::streamsize>(size));
    data.resize(static_cast<size_t>(input.gcount()));
  }
  const std::optional<JpegPicture> picture = ReadJpegHeader(data);
  if (!picture) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Not a JPEG picture a PDF can hold.");
    papplJobSetMessage(job, "Not captured: not a JPEG picture a PDF can hold");
    return false;
  }
  PageSize page = JobPage(job, picture->components != 1);
  // A picture wider than high lies on its page the same way.
  if ((picture->width > picture->height) != (page.width > page.height)) {
    std::swap(page.width, page.height);
  }
  MadePdf made(job);
  if (!made.file()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot make a PDF in the spool: %s",
                std::strerror(errno));
    return false;
  }
  PicturePdf pdf(made.file());
  if (!pdf.AddJpegPage(data, *picture, page) || !pdf.Finish() || !made.Close()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot write the PDF of the picture.");
    return false;
  }
  return FileDocument(job, made.path());
}

// The raster pages of one job, on their way into a PDF.
struct RasterJob {
  explicit RasterJob(pappl_job_t* job) : made(job), pdf(made.file()) {}
  MadePdf made;
  PicturePdf pdf;
  bool failed = false;
};

RasterJob* RasterOf(pappl_job_t* job) {
  return static_cast<RasterJob*>(papplJobGetData(job));
}

bool StartRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  auto raster = std::make_unique<RasterJob>(job);
  if (!raster->made.file()) return false;
  papplJobSetData(job, raster.release());
  return true;
}

bool StartRasterPage(pappl_job_t* job, pappl_pr_options_t* options, pappl_device_t*, unsigned) {
  RasterJob* raster = RasterOf(job);
  const auto& header = options->header;
  if (!raster || header.cupsBitsPerColor != 8 || header.HWResolution[0] == 0 ||
      header.HWResolution[1] == 0) {
    return false;
  }
  const PageSize page{header.cupsWidth * 72.0 / header.HWResolution[0],
                      header.cupsHeight * 72.0 / header.HWResolution[1]};
  if (!raster->pdf.BeginRasterPage(header.cupsWidth, header.cupsHeight,
                                   static_cast<int>(header.cupsNumColors), page)) {
    raster->failed = true;
  }
  return !raster->failed;
}

bool WriteRasterLine(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned,
                     const unsigned char* line) {
  RasterJob* raster = RasterOf(job);
  if (!raster || raster->failed) return false;
  if (!raster->pdf.AddRasterRow(line)) raster->failed = true;
  return !raster->failed;
}

bool EndRasterPage(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*, unsigned) {
  RasterJob* raster = RasterOf(job);
  if (!raster || raster->failed) return false;
  if (!raster->pdf.EndRasterPage()) raster->failed = true;
  return !raster->failed;
}

bool EndRasterJob(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*) {
  std::unique_ptr<RasterJob> raster(RasterOf(job));
  papplJobSetData(job, nullptr);
  if (!raster || raster->failed || papplJobIsCanceled(job)) return false;
  if (!raster->pdf.Finish() || !raster->made.Close()) {
    papplLogJob(job, PAPPL_LOGLEVEL_ERROR, "Cannot write the PDF of the raster pages.");
    return false;
  }
  return FileDocument(job, raster->made.path());
}

bool DescribeDriver(pappl_system_t*, const char* driverName, const char*, const char*,
                    pappl_pr_driver_data_t* driver, ipp_t**, void* data) {
  if (std::strcmp(driverName, kDriverName) != 0) return false;
  driver->extension = data;
  driver->printfile_cb = PrintPdf;
  driver->rstartjob_cb = StartRasterJob;
  driver->rstartpage_cb = StartRasterPage;
  driver->rwriteline_cb = WriteRasterLine;
  driver->rendpage_cb = EndRasterPage;
  driver->rendjob_cb = EndRasterJob;
  driver->format = "application/pdf";
  std::snprintf(driver->make_and_model, sizeof driver->make_and_model, "Velloran Print Capture");
  driver->ppm = 60;
  driver->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_PHOTO;
  driver->num_resolution = 1;
  driver->x_resolution[0] = driver->y_resolution[0] = kResolution;
  driver->x_default = driver->y_default = kResolution;
  driver->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8 | PAPPL_PWG_RASTER_TYPE_SRGB_8;
  driver->color_supported =
      PAPPL_COLOR_MODE_AUTO | PAPPL_COLOR_MODE_COLOR | PAPPL_COLOR_MODE_MONOCHROME;
  driver->color_default = PAPPL_COLOR_MODE_AUTO;
  driver->sides_supported = PAPPL_SIDES_ONE_SIDED;
  driver->sides_default = PAPPL_SIDES_ONE_SIDED;
  driver->orient_default = IPP_ORIENT_NONE;
  driver->quality_default = IPP_QUALITY_NORMAL;
  // Nothing is cut off: what is printed is kept whole.
  driver->borderless = true;
  driver->num_media = static_cast<int>(std::size(kMedia));
  for (size_t i = 0; i < std::size(kMedia); ++i) driver->media[i] = kMedia[i];
  driver->num_source = 1;
  driver->source[0] = "auto";
  driver->num_type = 1;
  driver->type[0] = "stationery";
  std::snprintf(driver->media_default.size_name, sizeof driver->media_default.size_name, "%s",
                kMedia[0]);
  driver->media_default.size_width = 21000;
  driver->media_default.size_length = 29700;
  std::snprintf(driver->media_default.source, sizeof driver->media_default.source, "auto");
  std::snprintf(driver->media_default.type, sizeof driver->media_default.type, "stationery");
  driver->media_ready[0] = driver->media_default;
  return true;
}

}  // namespace

int RunCapturePrinter(const CapturePrinterOptions& options) {
  const PrinterPlaces& places = options.places;
  // The socket's folder and the spool belong to this service alone: nobody else can put a
  // socket of theirs where the spooler looks, or a file where a user's window takes its jobs.
  // The socket's folder stays closed until the socket's own access is set.
  const std::filesystem::path folder = places.socket.parent_path();
  const std::filesystem::path jobs = places.spool / ".printer";
  for (const auto& [path, mode] :
       {std::pair{folder, 0700}, std::pair{places.spool, 0755}, std::pair{jobs, 0700}}) {
    const std::string problem = OwnFolderProblem(path, std::filesystem::perms(mode));
    if (!problem.empty()) {
      std::fprintf(stderr, "velloran-printer: %s\n", problem.c_str());
      return 1;
    }
  }
  chmod(folder.c_str(), 0700);

  pappl_system_t* system = papplSystemCreate(
      PAPPL_SOPTIONS_NO_TLS, "Velloran Printer", 0, nullptr, jobs.c_str(), options.logFile.c_str(),
      options.debug ? PAPPL_LOGLEVEL_DEBUG : PAPPL_LOGLEVEL_INFO, nullptr, false);
  if (!system) {
    std::fprintf(stderr, "velloran-printer: cannot create the printer system\n");
    return 1;
  }
  // The local socket is the only way in: no network port, no advertising on any network.
  if (!papplSystemAddListeners(system, places.socket.c_str())) {
    std::fprintf(stderr, "velloran-printer: cannot listen at %s: %s\n", places.socket.c_str(),
                 std::strerror(errno));
    papplSystemDelete(system);
    return 1;
  }
  const std::string access = CloseSocketToStrangers(places.socket);
  if (!access.empty()) papplLog(system, PAPPL_LOGLEVEL_WARN, "%s", access.c_str());
  chmod(folder.c_str(), 0755);
  papplSystemSetDNSSDName(system, nullptr);
  PrinterContext context{JobSpool(places.spool, options.minimumFreeSpace)};
  pappl_pr_driver_t drivers[] = {
      {kDriverName, "Velloran print capture", nullptr, nullptr},
  };
  papplSystemSetPrinterDrivers(system, 1, drivers, nullptr, nullptr, DescribeDriver, &context);
  papplSystemAddMIMEFilter(system, "image/jpeg", "application/pdf", FilterJpeg, nullptr);
  pappl_printer_t* printer =
      papplPrinterCreate(system, 1, kPrinterName, kDriverName,
                         "MFG:Velloran;MDL:Print Capture;CMD:PDF,JPEG,PNG;", "file:///dev/null");
  if (!printer) {
    std::fprintf(stderr, "velloran-printer: cannot create the printer\n");
    papplSystemDelete(system);
    return 1;
  }
  papplPrinterSetDNSSDName(printer, nullptr);
  // Jobs wait their turn here rather than being turned away while another one is filed.
  papplPrinterSetMaxActiveJobs(printer, kMostWaitingJobs);
  papplSystemRun(system);
  papplSystemDelete(system);
  return 0;
}
