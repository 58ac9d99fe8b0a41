#include "panel/browser.h"

#include <chrono>
#include <mutex>
#include <thread>

#include "os/os.h"

namespace korvelan380::tool {
namespace {

// Long enough for a browser that is still starting to read the page.
constexpr auto kForwardPageLife = std::chrono::seconds(30);

// The forwarding page, removed by whichever comes first: its life's end or the tool's.
class ForwardPage {
 public:
  ~ForwardPage() { Remove(); }

  // The page's path, or "" when it cannot be written.
  std::string Write(const std::string& url) {
    std::lock_guard<std::mutex> lock(mu_);
    const std::string page =
        "<!doctype html><meta charset=\"utf-8\"><title>korvelan380 panel</title>"
        "<meta http-equiv=\"refresh\" content=\"0; url=" +
        url + "\">";
    path_ = os::WritePrivateFile("open.html", page);
    return path_;
  }

  void Remove() {
    std::lock_guard<std::mutex> lock(mu_);
    if (path_.empty()) return;
    os::RemovePrivateFile(path_);
    path_.clear();
  }

 private:
  std::mutex mu_;
  std::string path_;
};

ForwardPage forwardPage;

}  // namespace

void OpenBrowser(const std::string& url, std::ostream& out) {
  const std::string page = forwardPage.Write(url);
  if (page.empty()) {
    out << "could not write the page that opens the panel: open the address above yourself\n";
    return;
  }
  std::string why;
  if (!os::StartBrowser(page, why)) {
    forwardPage.Remove();
    out << "could not start the browser (" << why << "): open the address above yourself\n";
    return;
  }
  std::thread([] {
    std::this_thread::sleep_for(kForwardPageLife);
    forwardPage.Remove();
  }).detach();
}

}  // namespace korvelan380::tool
