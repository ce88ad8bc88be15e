// Test helper: redirects emit() and log() into memory files for the lifetime of
// the object and reads the lines back. Appending files, like the host's own
// redirections, so every write lands whole.
#pragma once

#include <fcntl.h>
#include <sys/mman.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "basis/ausgabe.h"
#include "tests/dateien.h"

namespace hoerspur {

class ZeilenMitschnitt {
  public:
    ZeilenMitschnitt()
        : ereignisFd_(memfd_create("ereignisse", MFD_CLOEXEC)),
          logFd_(memfd_create("log", MFD_CLOEXEC)) {
        fcntl(ereignisFd_, F_SETFL, O_APPEND);
        fcntl(logFd_, F_SETFL, O_APPEND);
        alt_ = setzeAusgabeziele({ereignisFd_, logFd_});
    }
    ~ZeilenMitschnitt() {
        setzeAusgabeziele(alt_);
        close(ereignisFd_);
        close(logFd_);
    }
    ZeilenMitschnitt(const ZeilenMitschnitt&) = delete;
    ZeilenMitschnitt& operator=(const ZeilenMitschnitt&) = delete;

    std::string ereignisText() const { return lies(ereignisFd_); }
    std::string logText() const { return lies(logFd_); }
    std::vector<std::string> ereignisZeilen() const { return zeilen(ereignisText()); }
    std::vector<std::string> logZeilen() const { return zeilen(logText()); }
    int ereignisFd() const { return ereignisFd_; }
    int logFd() const { return logFd_; }

    static std::vector<std::string> zeilen(const std::string& text) { return zeilenVon(text); }

  private:
    static std::string lies(int fd) {
        std::string text;
        char puffer[65536];
        off_t pos = 0;
        ssize_t n;
        while ((n = pread(fd, puffer, sizeof puffer, pos)) > 0) {
            text.append(puffer, static_cast<size_t>(n));
            pos += n;
        }
        return text;
    }

    int ereignisFd_;
    int logFd_;
    Ausgabeziele alt_;
};

}  // namespace hoerspur
