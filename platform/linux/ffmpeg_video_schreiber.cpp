#include "platform/linux/ffmpeg_video_schreiber.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cmath>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>
#include <vector>

#include "basis/datei_schreiben.h"
#include "platform/linux/ffmpeg_fehler.h"
#include "platform/linux/yuv_wandler.h"

extern "C" {
#include <libavcodec/avcodec.h>
#include <libavformat/avformat.h>
#include <libavutil/opt.h>
}

namespace hoerspur {

namespace {

// 90 kHz: the usual clock of video time stamps, fine enough for any capture time.
constexpr AVRational kZeitbasis{1, 90000};
constexpr double kTicksProSekunde = 90000.0;
// The capture's highest rate: the encoder's rate control plans with it, and a
// last frame without a known end lasts one such interval.
constexpr int kNominaleBildrate = 15;
// A fragment ends at every key frame; when pictures come rarely (a still window),
// this bounds how much source time a crash can lose.
constexpr double kMaxKeyframeAbstandSekunden = 2.0;
constexpr int kIoPufferBytes = 64 * 1024;

// The write callback's buffer became const in FFmpeg 6.1.
#if LIBAVFORMAT_VERSION_MAJOR >= 61
using IoDaten = const std::uint8_t*;
#else
using IoDaten = std::uint8_t*;
#endif

int schreibeAufFd(void* opaque, IoDaten daten, int bytes) {
    const int fd = *static_cast<int*>(opaque);
    return schreibeAlles(fd, daten, static_cast<std::size_t>(bytes)) ? bytes : AVERROR(errno);
}

std::int64_t sucheInFd(void* opaque, std::int64_t position, int woher) {
    const int fd = *static_cast<int*>(opaque);
    if (woher & AVSEEK_SIZE) {
        struct stat st {};
        if (::fstat(fd, &st) != 0) return AVERROR(errno);
        return st.st_size;
    }
    const off_t r = ::lseek(fd, static_cast<off_t>(position), woher & ~AVSEEK_FORCE);
    return r < 0 ? AVERROR(errno) : static_cast<std::int64_t>(r);
}

const char* profilName(H264Profil p) {
    switch (p) {
        case H264Profil::baseline:
            return "baseline";
        case H264Profil::main:
            return "main";
        case H264Profil::high:
            return "high";
    }
    return "main";
}

// Makes a file's directory entry durable, so that a power cut after the first
// fragment still finds the file.
void syncOrdnerVon(const std::string& pfad) {
    std::filesystem::path ordner = std::filesystem::path(pfad).parent_path();
    if (ordner.empty()) ordner = ".";
    const int fd = ::open(ordner.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// A picture taken and waiting for the encoder, already in the encoder's format.
struct Platz {
    AVFrame* bild = nullptr;
};

class FfmpegVideoSchreiber final : public VideoSchreiber {
  public:
    FfmpegVideoSchreiber(std::string pfad, FfmpegSchreiberOptionen optionen)
        : pfad_(std::move(pfad)), optionen_(std::move(optionen)) {}

    ~FfmpegVideoSchreiber() override {
        beende();
        raeumeAuf();
    }

    bool fuegeEingangHinzu(const H264Einstellungen& e) override {
        std::lock_guard lock(mutex_);
        if (einstellungen_ || status_ != SchreiberStatus::unbekannt) return false;
        // YUV 4:2:0 needs even sizes; beyond 4096 the automatic level gives out.
        if (e.breite <= 0 || e.hoehe <= 0 || e.breite % 2 != 0 || e.hoehe % 2 != 0 ||
            e.breite > 4096 || e.hoehe > 4096 || e.mittlereBitrateBitProSekunde <= 0 ||
            e.maxKeyframeAbstandBilder < 1) {
            return false;
        }
        if (avcodec_find_encoder_by_name("libx264") == nullptr) return false;
        einstellungen_ = e;
        return true;
    }

    bool starteSchreiben() override {
        std::lock_guard leben(lebenslauf_);
        H264Einstellungen e;
        {
            std::lock_guard lock(mutex_);
            if (status_ != SchreiberStatus::unbekannt || !einstellungen_) return false;
            e = *einstellungen_;
        }
        try {
            oeffne(e);
        } catch (const PlattformFehler& f) {
            raeumeAuf();
            if (dateiAngelegt_) ::unlink(pfad_.c_str());
            dateiAngelegt_ = false;
            std::lock_guard lock(mutex_);
            status_ = SchreiberStatus::fehlgeschlagen;
            fehlerText_ = f.vollText();
            return false;
        }
        {
            std::lock_guard lock(mutex_);
            status_ = SchreiberStatus::schreibt;
        }
        thread_ = std::thread([this] { kodierSchleife(); });
        return true;
    }

    void starteSitzung(double quellSekunden) override {
        std::lock_guard lock(mutex_);
        if (status_ == SchreiberStatus::schreibt && !sitzungStart_ &&
            std::isfinite(quellSekunden)) {
            sitzungStart_ = quellSekunden;
        }
    }

    bool bereitFuerMehr() const override {
        std::lock_guard lock(mutex_);
        return nimmtBilder() && !frei_.empty();
    }

    bool haengeAn(const BgraBild& bild, double praesentationSekunden) override {
        int platz = 0;
        {
            std::lock_guard lock(mutex_);
            if (!nimmtBilder() || bild.leer() || bild.breite != einstellungen_->breite ||
                bild.hoehe != einstellungen_->hoehe || !std::isfinite(praesentationSekunden)) {
                return false;
            }
            const double ticks =
                std::round((praesentationSekunden - *sitzungStart_) * kTicksProSekunde);
            if (ticks < 0.0 || ticks > 9.0e15) return false;
            const auto pts = static_cast<std::int64_t>(ticks);
            if (letzterPts_ && pts <= *letzterPts_) return false;
            if (frei_.empty()) return false;
            platz = frei_.back();
            frei_.pop_back();
            ++inArbeit_;
            letzterPts_ = pts;
            plaetze_[static_cast<std::size_t>(platz)].bild->pts = pts;
        }
        // The place belongs to this caller until it is queued: convert without the
        // lock. Converting here instead of copying costs the caller no more than a
        // copy of the BGRA picture would and keeps the pool small.
        AVFrame* ziel = plaetze_[static_cast<std::size_t>(platz)].bild;
        const bool beschreibbar = av_frame_make_writable(ziel) >= 0;
        if (beschreibbar) {
            bgraZuYuv420(bild, ziel->data[0], ziel->linesize[0], ziel->data[1], ziel->linesize[1],
                         ziel->data[2], ziel->linesize[2]);
        }
        {
            std::lock_guard lock(mutex_);
            --inArbeit_;
            if (beschreibbar) {
                warteschlange_.push_back(platz);
            } else {
                frei_.push_back(platz);
            }
        }
        arbeit_.notify_all();
        return beschreibbar;
    }

    void markiereFertig() override {
        {
            std::lock_guard lock(mutex_);
            fertigMarkiert_ = true;
        }
        arbeit_.notify_all();
    }

    void beendeSitzung(double quellSekunden) override {
        std::lock_guard lock(mutex_);
        if (std::isfinite(quellSekunden)) sitzungEnde_ = quellSekunden;
    }

    void beende() override {
        std::lock_guard leben(lebenslauf_);
        if (!thread_.joinable()) return;
        markiereFertig();
        thread_.join();
        warteAufFuellungen();
        std::optional<PlattformFehler> schliessFehler;
        if (fd_ >= 0 && ::close(fd_) != 0) {
            schliessFehler =
                ffmpegFehler("Videodatei laesst sich nicht schliessen", AVERROR(errno));
        }
        fd_ = -1;
        raeumeAuf();
        std::lock_guard lock(mutex_);
        if (status_ != SchreiberStatus::schreibt) return;
        if (schliessFehler) {
            status_ = SchreiberStatus::fehlgeschlagen;
            fehlerText_ = schliessFehler->vollText();
        } else {
            status_ = SchreiberStatus::fertig;
        }
    }

    void brecheAb() override {
        std::lock_guard leben(lebenslauf_);
        {
            std::lock_guard lock(mutex_);
            if (status_ == SchreiberStatus::fertig || status_ == SchreiberStatus::abgebrochen)
                return;
            abbrechen_ = true;
        }
        arbeit_.notify_all();
        if (thread_.joinable()) thread_.join();
        warteAufFuellungen();
        raeumeAuf();
        if (dateiAngelegt_) ::unlink(pfad_.c_str());
        dateiAngelegt_ = false;
        std::lock_guard lock(mutex_);
        status_ = SchreiberStatus::abgebrochen;
    }

    SchreiberStatus status() const override {
        std::lock_guard lock(mutex_);
        return status_;
    }

    std::string fehlerText() const override {
        std::lock_guard lock(mutex_);
        return fehlerText_;
    }

  private:
    // unter mutex_
    bool nimmtBilder() const {
        return status_ == SchreiberStatus::schreibt && !fertigMarkiert_ && !abbrechen_ &&
               sitzungStart_.has_value();
    }

    // On the caller of starteSchreiben(); throws PlattformFehler. Whatever was
    // made before a failure is left for raeumeAuf().
    void oeffne(const H264Einstellungen& e) {
        ffmpegStumm();
        const AVCodec* codec = avcodec_find_encoder_by_name("libx264");
        if (codec == nullptr) {
            throw ffmpegFehler("H.264-Kodierer libx264 fehlt", AVERROR_ENCODER_NOT_FOUND);
        }
        int r = avformat_alloc_output_context2(&format_, nullptr, "mp4", nullptr);
        if (r < 0 || format_ == nullptr) {
            throw ffmpegFehler("MP4-Format nicht verfuegbar", r < 0 ? r : AVERROR_MUXER_NOT_FOUND);
        }

        kodierer_ = avcodec_alloc_context3(codec);
        if (kodierer_ == nullptr)
            throw ffmpegFehler("Kodierer laesst sich nicht anlegen", AVERROR(ENOMEM));
        kodierer_->width = e.breite;
        kodierer_->height = e.hoehe;
        kodierer_->pix_fmt = AV_PIX_FMT_YUV420P;
        kodierer_->time_base = kZeitbasis;
        kodierer_->framerate = AVRational{kNominaleBildrate, 1};
        kodierer_->bit_rate = e.mittlereBitrateBitProSekunde;
        // Peaks up to 1.5 × the average over a two-second buffer: a switch of the
        // window's content gets the bits it needs without lasting swings in quality.
        kodierer_->rc_max_rate = e.mittlereBitrateBitProSekunde * 3 / 2;
        kodierer_->rc_buffer_size =
            static_cast<int>(std::min<std::int64_t>(e.mittlereBitrateBitProSekunde * 2, INT_MAX));
        kodierer_->gop_size = e.maxKeyframeAbstandBilder;
        // No reordering: decode order is presentation order, so variable frame
        // times need no composition offsets and a fragment is complete up to its
        // last frame.
        kodierer_->max_b_frames = 0;
        // One thread: the encoder stays within one core and adds no frame delay.
        kodierer_->thread_count = 1;
        // Screen content is sRGB: BT.709 primaries and matrix, limited range.
        kodierer_->color_range = AVCOL_RANGE_MPEG;
        kodierer_->colorspace = AVCOL_SPC_BT709;
        kodierer_->color_primaries = AVCOL_PRI_BT709;
        kodierer_->color_trc = AVCOL_TRC_IEC61966_2_1;
        if (format_->oformat->flags & AVFMT_GLOBALHEADER) {
            kodierer_->flags |= AV_CODEC_FLAG_GLOBAL_HEADER;
        }
        AVDictionary* kodierOptionen = nullptr;
        // superfast keeps up with a live source on a fraction of one core (no
        // look-ahead, so frames leave the encoder at once); at 1.4 Mbit/s its
        // pictures measure within half a dB of veryfast's for screen content.
        av_dict_set(&kodierOptionen, "preset", e.echtzeit ? "superfast" : "medium", 0);
        av_dict_set(&kodierOptionen, "profile", profilName(e.profil), 0);
        // Forced key frames (the 2-second rule) must start a new group, or the
        // fragment they open could not be decoded on its own.
        av_dict_set(&kodierOptionen, "forced-idr", "1", 0);
        r = avcodec_open2(kodierer_, codec, &kodierOptionen);
        av_dict_free(&kodierOptionen);
        if (r < 0) throw ffmpegFehler("H.264-Kodierer startet nicht", r);

        spur_ = avformat_new_stream(format_, nullptr);
        if (spur_ == nullptr)
            throw ffmpegFehler("Videospur laesst sich nicht anlegen", AVERROR(ENOMEM));
        spur_->time_base = kZeitbasis;
        r = avcodec_parameters_from_context(spur_->codecpar, kodierer_);
        if (r < 0) throw ffmpegFehler("Videospur laesst sich nicht beschreiben", r);

        fd_ = ::open(pfad_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
        if (fd_ < 0) throw ffmpegFehler("Videodatei laesst sich nicht anlegen", AVERROR(errno));
        dateiAngelegt_ = true;
        auto* ioPuffer = static_cast<std::uint8_t*>(av_malloc(kIoPufferBytes));
        if (ioPuffer == nullptr)
            throw ffmpegFehler("Kein Speicher fuer die Videodatei", AVERROR(ENOMEM));
        format_->pb = avio_alloc_context(ioPuffer, kIoPufferBytes, 1, &fd_, nullptr, schreibeAufFd,
                                         sucheInFd);
        if (format_->pb == nullptr) {
            av_free(ioPuffer);
            throw ffmpegFehler("Kein Speicher fuer die Videodatei", AVERROR(ENOMEM));
        }
        format_->flags |= AVFMT_FLAG_CUSTOM_IO;

        AVDictionary* muxOptionen = nullptr;
        av_dict_set(&muxOptionen, "movflags", "frag_keyframe+empty_moov+default_base_moof", 0);
        r = avformat_write_header(format_, &muxOptionen);
        av_dict_free(&muxOptionen);
        if (r < 0) throw ffmpegFehler("Kopf der Videodatei laesst sich nicht schreiben", r);
        avio_flush(format_->pb);
        if (format_->pb->error < 0) {
            throw ffmpegFehler("Videodatei laesst sich nicht schreiben", format_->pb->error);
        }
        if (::fdatasync(fd_) != 0 && errno != EINVAL) {
            throw ffmpegFehler("Videodatei laesst sich nicht sichern", AVERROR(errno));
        }
        syncOrdnerVon(pfad_);

        paket_ = av_packet_alloc();
        gehalten_ = av_packet_alloc();
        if (paket_ == nullptr || gehalten_ == nullptr) {
            throw ffmpegFehler("Kein Speicher fuer Videopakete", AVERROR(ENOMEM));
        }

        const int anzahl = std::max(1, optionen_.pufferPlaetze);
        plaetze_.resize(static_cast<std::size_t>(anzahl));
        for (Platz& p : plaetze_) {
            p.bild = av_frame_alloc();
            if (p.bild == nullptr)
                throw ffmpegFehler("Kein Speicher fuer Videobilder", AVERROR(ENOMEM));
            p.bild->format = AV_PIX_FMT_YUV420P;
            p.bild->width = e.breite;
            p.bild->height = e.hoehe;
            p.bild->color_range = AVCOL_RANGE_MPEG;
            p.bild->colorspace = AVCOL_SPC_BT709;
            p.bild->color_primaries = AVCOL_PRI_BT709;
            p.bild->color_trc = AVCOL_TRC_IEC61966_2_1;
            r = av_frame_get_buffer(p.bild, 0);
            if (r < 0) throw ffmpegFehler("Kein Speicher fuer Videobilder", r);
        }
        std::lock_guard lock(mutex_);
        frei_.clear();
        warteschlange_.clear();
        frei_.reserve(static_cast<std::size_t>(anzahl));
        warteschlange_.reserve(static_cast<std::size_t>(anzahl));
        for (int i = anzahl - 1; i >= 0; --i) frei_.push_back(i);
    }

    // A picture still being filled by haengeAn() needs its place until queued;
    // no new one starts once the input is finished or cancelled.
    void warteAufFuellungen() {
        std::unique_lock lock(mutex_);
        arbeit_.wait(lock, [this] { return inArbeit_ == 0; });
    }

    // Frees everything oeffne() made; only while no encoder thread runs.
    void raeumeAuf() {
        for (Platz& p : plaetze_) av_frame_free(&p.bild);
        plaetze_.clear();
        av_packet_free(&paket_);
        av_packet_free(&gehalten_);
        hatGehalten_ = false;
        avcodec_free_context(&kodierer_);
        if (format_ != nullptr) {
            if (format_->pb != nullptr) {
                av_freep(&format_->pb->buffer);
                avio_context_free(&format_->pb);
            }
            avformat_free_context(format_);
            format_ = nullptr;
        }
        spur_ = nullptr;
        if (fd_ >= 0) ::close(fd_);
        fd_ = -1;
    }

    void scheitere(const PlattformFehler& f) {
        std::lock_guard lock(mutex_);
        if (status_ == SchreiberStatus::schreibt) {
            status_ = SchreiberStatus::fehlgeschlagen;
            fehlerText_ = f.vollText();
        }
    }

    void kodierSchleife() {
        pthread_setname_np(pthread_self(), "video.kodierer");
        for (;;) {
            int platz = 0;
            {
                std::unique_lock lock(mutex_);
                arbeit_.wait(lock, [this] {
                    return abbrechen_ || !warteschlange_.empty() ||
                           (fertigMarkiert_ && inArbeit_ == 0);
                });
                if (abbrechen_) return;
                if (warteschlange_.empty()) break;  // marked finished and drained
                platz = warteschlange_.front();
                warteschlange_.erase(warteschlange_.begin());
            }
            if (optionen_.vorKodieren) optionen_.vorKodieren();
            AVFrame* bild = plaetze_[static_cast<std::size_t>(platz)].bild;
            markiereSchluessel(bild);
            const bool kodiert = kodiere(bild);
            // The encoder has copied the picture (or still holds a reference, in
            // which case the next fill makes the place writable anew).
            {
                std::lock_guard lock(mutex_);
                frei_.push_back(platz);
            }
            if (!kodiert) return;
        }
        if (!kodiere(nullptr) || !schreibeGehaltenes()) return;
        const int r = av_write_trailer(format_);
        if (r < 0) {
            scheitere(ffmpegFehler("Ende der Videodatei laesst sich nicht schreiben", r));
            return;
        }
        sichere();
    }

    // A key frame at least every kMaxKeyframeAbstandSekunden of source time.
    void markiereSchluessel(AVFrame* bild) {
        const auto maxAbstand =
            static_cast<std::int64_t>(kMaxKeyframeAbstandSekunden * kTicksProSekunde);
        if (!letzterKeyPts_ || bild->pts - *letzterKeyPts_ >= maxAbstand) {
            bild->pict_type = AV_PICTURE_TYPE_I;
            letzterKeyPts_ = bild->pts;
        } else {
            bild->pict_type = AV_PICTURE_TYPE_NONE;
        }
    }

    // `bild` nothing drains the encoder.
    bool kodiere(AVFrame* bild) {
        int r = avcodec_send_frame(kodierer_, bild);
        if (r < 0) {
            scheitere(ffmpegFehler("Bild laesst sich nicht kodieren", r));
            return false;
        }
        for (;;) {
            r = avcodec_receive_packet(kodierer_, paket_);
            if (r == AVERROR(EAGAIN) || r == AVERROR_EOF) return true;
            if (r < 0) {
                scheitere(ffmpegFehler("Bild laesst sich nicht kodieren", r));
                return false;
            }
            if ((paket_->flags & AV_PKT_FLAG_KEY) &&
                (!letzterKeyPts_ || paket_->pts > *letzterKeyPts_)) {
                letzterKeyPts_ = paket_->pts;
            }
            // Each packet waits for the next one, which tells how long it lasts.
            if (hatGehalten_) {
                gehalten_->duration = paket_->dts - gehalten_->dts;
                if (!schreibe(gehalten_)) return false;
            }
            av_packet_move_ref(gehalten_, paket_);
            hatGehalten_ = true;
        }
    }

    bool schreibeGehaltenes() {
        if (!hatGehalten_) return true;
        std::optional<double> ende;
        double start = 0.0;
        {
            std::lock_guard lock(mutex_);
            ende = sitzungEnde_;
            start = sitzungStart_.value_or(0.0);
        }
        std::int64_t dauer = static_cast<std::int64_t>(kTicksProSekunde) / kNominaleBildrate;
        if (ende) {
            const double endeTicks = std::round((*ende - start) * kTicksProSekunde);
            if (endeTicks > static_cast<double>(gehalten_->pts) && endeTicks < 9.0e15) {
                dauer = static_cast<std::int64_t>(endeTicks) - gehalten_->pts;
            }
        }
        gehalten_->duration = dauer;
        hatGehalten_ = false;
        return schreibe(gehalten_);
    }

    bool schreibe(AVPacket* p) {
        const bool schluessel = (p->flags & AV_PKT_FLAG_KEY) != 0;
        av_packet_rescale_ts(p, kodierer_->time_base, spur_->time_base);
        p->stream_index = spur_->index;
        const int r = av_write_frame(format_, p);
        av_packet_unref(p);
        if (r < 0) {
            scheitere(ffmpegFehler("Videodatei laesst sich nicht schreiben", r));
            return false;
        }
        // A key frame has just closed the fragment before it: put it on disk.
        return !schluessel || sichere();
    }

    bool sichere() {
        avio_flush(format_->pb);
        if (format_->pb->error < 0) {
            scheitere(ffmpegFehler("Videodatei laesst sich nicht schreiben", format_->pb->error));
            return false;
        }
        if (::fdatasync(fd_) != 0 && errno != EINVAL) {
            scheitere(ffmpegFehler("Videodatei laesst sich nicht sichern", AVERROR(errno)));
            return false;
        }
        return true;
    }

    // fest nach dem Bau
    const std::string pfad_;
    const FfmpegSchreiberOptionen optionen_;

    // Serialises starting, finishing and cancelling.
    std::mutex lebenslauf_;

    // unter mutex_
    mutable std::mutex mutex_;
    std::condition_variable arbeit_;
    SchreiberStatus status_ = SchreiberStatus::unbekannt;
    std::string fehlerText_;
    std::optional<H264Einstellungen> einstellungen_;
    std::optional<double> sitzungStart_;
    std::optional<double> sitzungEnde_;
    std::optional<std::int64_t> letzterPts_;
    bool fertigMarkiert_ = false;
    bool abbrechen_ = false;
    int inArbeit_ = 0;                // places taken by haengeAn() and not yet queued
    std::vector<int> frei_;           // places free to fill
    std::vector<int> warteschlange_;  // filled places, oldest first

    // Made by starteSchreiben(); a place belongs to whoever took it from frei_
    // or warteschlange_.
    std::vector<Platz> plaetze_;

    // nur auf dem Kodierthread; davor und danach unter lebenslauf_
    AVFormatContext* format_ = nullptr;
    AVCodecContext* kodierer_ = nullptr;
    AVStream* spur_ = nullptr;
    AVPacket* paket_ = nullptr;
    AVPacket* gehalten_ = nullptr;
    bool hatGehalten_ = false;
    std::optional<std::int64_t> letzterKeyPts_;
    int fd_ = -1;
    bool dateiAngelegt_ = false;
    std::thread thread_;
};

}  // namespace

std::unique_ptr<VideoSchreiber> neuerFfmpegVideoSchreiber(const std::string& pfad,
                                                          FfmpegSchreiberOptionen optionen) {
    std::filesystem::path ordner = std::filesystem::path(pfad).parent_path();
    if (ordner.empty()) ordner = ".";
    if (::access(ordner.c_str(), W_OK | X_OK) != 0) {
        throw ffmpegFehler("Ordner der Videodatei ist nicht beschreibbar: " + ordner.string(),
                           AVERROR(errno));
    }
    std::error_code fehler;
    if (std::filesystem::is_directory(pfad, fehler)) {
        throw ffmpegFehler("Videodatei ist ein Ordner: " + pfad, AVERROR(EISDIR));
    }
    return std::make_unique<FfmpegVideoSchreiber>(pfad, std::move(optionen));
}

}  // namespace hoerspur
