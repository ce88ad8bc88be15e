#include "recorder/driver/ereignisse.h"

#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <clocale>
#include <cstdio>
#include <cstring>

namespace hoerspur {

namespace {

std::atomic<int> gEreignisFd{1};
std::atomic<int> gLogFd{2};

// One write(2) for the whole line; only a short write (pipe full, signal) is
// continued, so a line is never split by another thread's line in the normal case.
void schreibeZeile(int fd, std::string_view line) {
    std::string ganz;
    ganz.reserve(line.size() + 1);
    ganz.append(line);
    ganz.push_back('\n');
    const char* p = ganz.data();
    size_t rest = ganz.size();
    while (rest > 0) {
        const ssize_t n = ::write(fd, p, rest);
        if (n < 0) {
            if (errno == EINTR) continue;
            return;  // nobody to tell: the stream itself is gone
        }
        p += n;
        rest -= static_cast<size_t>(n);
    }
}

void haengeAn(std::string& out, const char* text) {
    out.append(text);
}

void haengeZahlAn(std::string& out, std::int64_t wert) {
    char puffer[32];
    std::snprintf(puffer, sizeof puffer, "%lld", static_cast<long long>(wert));
    out.append(puffer);
}

void haengeBoolAn(std::string& out, bool wert) {
    out.append(wert ? "true" : "false");
}

// Length of a valid UTF-8 sequence starting at p (1..4), or 0 when invalid.
size_t utf8Laenge(const unsigned char* p, size_t rest) {
    const unsigned char b = p[0];
    size_t n;
    std::uint32_t cp;
    if (b < 0x80) return 1;
    if (b >= 0xC2 && b <= 0xDF) {
        n = 2;
        cp = b & 0x1F;
    } else if (b >= 0xE0 && b <= 0xEF) {
        n = 3;
        cp = b & 0x0F;
    } else if (b >= 0xF0 && b <= 0xF4) {
        n = 4;
        cp = b & 0x07;
    } else {
        return 0;
    }
    if (rest < n) return 0;
    for (size_t i = 1; i < n; ++i) {
        if ((p[i] & 0xC0) != 0x80) return 0;
        cp = (cp << 6) | (p[i] & 0x3F);
    }
    if ((n == 3 && cp < 0x800) || (n == 4 && (cp < 0x10000 || cp > 0x10FFFF))) return 0;
    if (cp >= 0xD800 && cp <= 0xDFFF) return 0;  // surrogates are not scalars
    return n;
}

}  // namespace

void emit(std::string_view line) {
    schreibeZeile(gEreignisFd.load(), line);
}

void log(std::string_view line) {
    schreibeZeile(gLogFd.load(), line);
}

Ausgabeziele setzeAusgabeziele(Ausgabeziele ziele) {
    Ausgabeziele alt;
    alt.ereignisFd = gEreignisFd.exchange(ziele.ereignisFd);
    alt.logFd = gLogFd.exchange(ziele.logFd);
    return alt;
}

std::string jsonEscape(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    const auto* p = reinterpret_cast<const unsigned char*>(text.data());
    size_t i = 0;
    while (i < text.size()) {
        const unsigned char b = p[i];
        if (b == '\\') {
            out.append("\\\\");
        } else if (b == '"') {
            out.append("\\\"");
        } else if (b == '\t' || b == '\n' || b == '\r') {
            out.push_back(' ');
        } else if (b < 0x20) {
            // Raw control characters make the host's JSON parser reject the whole line.
            char puffer[8];
            std::snprintf(puffer, sizeof puffer, "\\u%04x", static_cast<unsigned>(b));
            out.append(puffer);
        } else if (b < 0x80) {
            out.push_back(static_cast<char>(b));
        } else {
            const size_t n = utf8Laenge(p + i, text.size() - i);
            if (n == 0) {
                out.append("\xEF\xBF\xBD");  // U+FFFD for a byte that is not UTF-8
                ++i;
                continue;
            }
            out.append(text.substr(i, n));
            i += n;
            continue;
        }
        ++i;
    }
    return out;
}

std::string formatFest(double wert, int nachkommastellen) {
    // snprintf follows LC_NUMERIC; the program never changes it from "C", but a
    // library might, and the host parses a point.
    char puffer[512];
    std::snprintf(puffer, sizeof puffer, "%.*f", nachkommastellen, wert);
    const char* punkt = std::localeconv()->decimal_point;
    if (punkt != nullptr && punkt[0] != '\0' && punkt[0] != '.' && punkt[1] == '\0') {
        if (char* p = std::strchr(puffer, punkt[0])) *p = '.';
    }
    return puffer;
}

std::string zeileStarted(bool mic, bool system, bool video, bool echo, std::int64_t nullUnixMs) {
    std::string z = "{\"event\":\"started\",\"mic\":";
    haengeBoolAn(z, mic);
    haengeAn(z, ",\"system\":");
    haengeBoolAn(z, system);
    haengeAn(z, ",\"video\":");
    haengeBoolAn(z, video);
    haengeAn(z, ",\"echo\":");
    haengeBoolAn(z, echo);
    haengeAn(z, ",\"null_unix_ms\":");
    haengeZahlAn(z, nullUnixMs);
    z.push_back('}');
    return z;
}

std::string zeileDegraded(std::string_view channel, std::string_view message) {
    std::string z = "{\"event\":\"degraded\",\"channel\":\"";
    z.append(channel);
    haengeAn(z, "\",\"message\":\"");
    z.append(jsonEscape(message));
    haengeAn(z, "\"}");
    return z;
}

std::string zeileError(std::string_view message) {
    std::string z = "{\"event\":\"error\",\"message\":\"";
    z.append(jsonEscape(message));
    haengeAn(z, "\"}");
    return z;
}

std::string zeileChunk(std::int64_t index, std::string_view channel, std::string_view path,
                       double t0Sekunden, double t1Sekunden,
                       std::optional<std::int64_t> spracheMs) {
    std::string z = "{\"chunk\":";
    haengeZahlAn(z, index);
    haengeAn(z, ",\"channel\":\"");
    z.append(jsonEscape(channel));
    haengeAn(z, "\",\"path\":\"");
    z.append(jsonEscape(path));
    haengeAn(z, "\",\"t0\":");
    z.append(formatFest(t0Sekunden, 2));
    haengeAn(z, ",\"t1\":");
    z.append(formatFest(t1Sekunden, 2));
    if (spracheMs) {
        haengeAn(z, ",\"sprache_ms\":");
        haengeZahlAn(z, *spracheMs);
    }
    z.push_back('}');
    return z;
}

std::string zeileVideoZiel(std::string_view event, std::string_view quelle, std::string_view art,
                           std::int64_t rang, std::string_view grund, double tSekunden) {
    std::string z = "{\"event\":\"";
    z.append(event);
    haengeAn(z, "\",\"quelle\":\"");
    z.append(jsonEscape(quelle));
    haengeAn(z, "\",\"art\":\"");
    z.append(art);
    haengeAn(z, "\",\"rang\":");
    haengeZahlAn(z, rang);
    haengeAn(z, ",\"grund\":\"");
    z.append(jsonEscape(grund));
    haengeAn(z, "\",\"t_s\":");
    z.append(formatFest(tSekunden, 1));
    z.push_back('}');
    return z;
}

std::string zeileVideoPause(std::string_view message, double tSekunden) {
    std::string z = "{\"event\":\"video_pause\",\"message\":\"";
    z.append(jsonEscape(message));
    haengeAn(z, "\",\"t_s\":");
    z.append(formatFest(tSekunden, 1));
    z.push_back('}');
    return z;
}

std::string zeileVideoNone(std::string_view message) {
    std::string z = "{\"event\":\"video_none\",\"message\":\"";
    z.append(jsonEscape(message));
    haengeAn(z, "\"}");
    return z;
}

std::string zeileVideo(std::string_view path, std::int64_t frames, std::string_view quelle) {
    std::string z = "{\"event\":\"video\",\"path\":\"";
    z.append(jsonEscape(path));
    haengeAn(z, "\",\"frames\":");
    haengeZahlAn(z, frames);
    haengeAn(z, ",\"quelle\":\"");
    z.append(jsonEscape(quelle));
    haengeAn(z, "\"}");
    return z;
}

std::string zeileEcho(std::string_view statistikObjekt, std::int64_t chunksOhneSprache) {
    std::string z(statistikObjekt);
    if (!z.empty() && z.back() == '}') z.pop_back();
    haengeAn(z, ",\"chunks_ohne_sprache\":");
    haengeZahlAn(z, chunksOhneSprache);
    z.push_back('}');
    return z;
}

std::string zeileZeitachse(std::string_view them, std::string_view me) {
    std::string z = "{\"event\":\"zeitachse\",";
    z.append(them);
    z.push_back(',');
    z.append(me);
    z.push_back('}');
    return z;
}

std::string zeileDone() {
    return "{\"event\":\"done\"}";
}

}  // namespace hoerspur
