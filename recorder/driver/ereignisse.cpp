#include "recorder/driver/ereignisse.h"

#include <cstdio>

#include "basis/text.h"

namespace hoerspur {

namespace {

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

}  // namespace

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

std::string zeileChunk(const GeschriebenerChunk& chunk) {
    return zeileChunk(chunk.index, chunk.channel, chunk.pfad, chunk.t0Sekunden, chunk.t1Sekunden,
                      chunk.spracheMs);
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

std::string zeileVideoMeldung(const VideoMeldung& m) {
    switch (m.art) {
        case VideoMeldung::Art::start:
        case VideoMeldung::Art::wechsel:
            return zeileVideoZiel(
                m.art == VideoMeldung::Art::start ? "video_start" : "video_wechsel", m.ziel.quelle,
                m.ziel.art, m.ziel.rang, m.ziel.grund, m.tSekunden);
        case VideoMeldung::Art::pause:
            return zeileVideoPause(m.text, m.tSekunden);
        case VideoMeldung::Art::keinBild:
            break;
    }
    return zeileVideoNone(m.text);
}

namespace {

// The statistics' fields without the closing brace, for the two lines that carry them.
std::string echoFelder(const EchoStatistik& s) {
    std::string z = "{\"event\":\"echo\",\"verzoegerung_ms\":";
    z.append(formatFest(s.verzoegerungMs, 1));
    haengeAn(z, ",\"versatz_bloecke\":");
    haengeZahlAn(z, s.versatzBloecke);
    haengeAn(z, ",\"versatz_wechsel\":");
    haengeZahlAn(z, s.versatzWechsel);
    haengeAn(z, ",\"leck\":");
    z.append(formatFest(s.leck, 4));
    haengeAn(z, ",\"tor_anteil\":");
    z.append(formatFest(s.torAnteil, 3));
    haengeAn(z, ",\"nah_anteil\":");
    z.append(formatFest(s.nahAnteil, 3));
    haengeAn(z, ",\"vg_kopien\":");
    haengeZahlAn(z, s.vgKopien);
    haengeAn(z, ",\"hg_reset\":");
    haengeZahlAn(z, s.hgReset);
    haengeAn(z, ",\"resets\":");
    haengeZahlAn(z, s.resets);
    haengeAn(z, ",\"ohne_referenz\":");
    haengeZahlAn(z, s.ohneReferenz);
    haengeAn(z, ",\"ausfaelle\":");
    haengeZahlAn(z, s.ausfaelle);
    haengeAn(z, ",\"bloecke\":");
    haengeZahlAn(z, s.bloecke);
    return z;
}

// "name":{"luecken":I,"luecken_ms":F,"ueberlappungen":I,"verworfen_ms":F}
std::string zeitachsenFeld(const Zeitachse& z) {
    std::string f = "\"";
    f.append(jsonEscape(z.name()));
    haengeAn(f, "\":{\"luecken\":");
    haengeZahlAn(f, z.luecken());
    haengeAn(f, ",\"luecken_ms\":");
    f.append(formatFest(static_cast<double>(z.lueckenSamples()) / z.rate() * 1000.0, 0));
    haengeAn(f, ",\"ueberlappungen\":");
    haengeZahlAn(f, z.ueberlappungen());
    haengeAn(f, ",\"verworfen_ms\":");
    f.append(formatFest(static_cast<double>(z.verworfen()) / z.rate() * 1000.0, 0));
    f.push_back('}');
    return f;
}

}  // namespace

std::string zeileEcho(const EchoStatistik& statistik, std::int64_t chunksOhneSprache) {
    std::string z = echoFelder(statistik);
    haengeAn(z, ",\"chunks_ohne_sprache\":");
    haengeZahlAn(z, chunksOhneSprache);
    z.push_back('}');
    return z;
}

std::string zeileEchoDatei(const EchoStatistik& statistik, double sekundenAudio,
                           double rechenzeitSekunden, std::int64_t samples,
                           std::int64_t chunksOhneSprache) {
    std::string z = echoFelder(statistik);
    haengeAn(z, ",\"sekunden_audio\":");
    z.append(formatFest(sekundenAudio, 1));
    haengeAn(z, ",\"rechenzeit_s\":");
    z.append(formatFest(rechenzeitSekunden, 2));
    haengeAn(z, ",\"samples\":");
    haengeZahlAn(z, samples);
    haengeAn(z, ",\"chunks_ohne_sprache\":");
    haengeZahlAn(z, chunksOhneSprache);
    z.push_back('}');
    return z;
}

std::string zeileZeitachse(const Zeitachse& them, const Zeitachse& me) {
    std::string z = "{\"event\":\"zeitachse\",";
    z.append(zeitachsenFeld(them));
    z.push_back(',');
    z.append(zeitachsenFeld(me));
    z.push_back('}');
    return z;
}

std::string zeileDone() {
    return "{\"event\":\"done\"}";
}

}  // namespace hoerspur
