#include "recorder/driver/ereignisse.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

#include "tests/zeilen_mitschnitt.h"

namespace hoerspur {
namespace {

std::string alsJsonString(const std::string& inhalt) {
    return nlohmann::json::parse("\"" + inhalt + "\"").get<std::string>();
}

TEST(JsonEscape, QuoteBackslashAndLineBreaks) {
    EXPECT_EQ(jsonEscape(""), "");
    EXPECT_EQ(jsonEscape("a\"b\\c\td\ne\rf"), "a\\\"b\\\\c d e f");
    EXPECT_EQ(alsJsonString(jsonEscape("Ger\xC3\xA4t \xE2\x80\x94 \"x\"")),
              "Ger\xC3\xA4t \xE2\x80\x94 \"x\"");  // umlaut and dash copied as UTF-8
}

TEST(JsonEscape, OtherControlCharactersAreEscapedSoTheLineStillParses) {
    std::string alle;
    for (int c = 1; c < 0x20; ++c) alle.push_back(static_cast<char>(c));
    alle.push_back('\0');
    const std::string escaped = jsonEscape(alle);
    EXPECT_EQ(escaped.find_first_of(std::string("\x01\x1f\x0b\x00", 4)), std::string::npos);
    EXPECT_EQ(jsonEscape("\x01"), "\\u0001");
    EXPECT_EQ(jsonEscape("\x1f"), "\\u001f");
    const std::string zurueck = alsJsonString(escaped);
    ASSERT_EQ(zurueck.size(), alle.size());
    EXPECT_EQ(zurueck[0], '\x01');
    EXPECT_EQ(zurueck[8], ' ');  // tab
}

TEST(JsonEscape, InvalidUtf8BecomesReplacementCharacter) {
    EXPECT_EQ(jsonEscape("a\xFF"
                         "b"),
              "a\xEF\xBF\xBD"
              "b");
    EXPECT_EQ(jsonEscape("\xC3"), "\xEF\xBF\xBD");  // truncated sequence
    EXPECT_EQ(jsonEscape("\xED\xA0\x80"), "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD");  // surrogate
    EXPECT_EQ(alsJsonString(jsonEscape("\xC0\xAF\xF5\x80")).size(), 12u);
}

TEST(EventLines, ExactShapes) {
    EXPECT_EQ(
        zeileStarted(true, false, true, false, 1733660000123),
        R"({"event":"started","mic":true,"system":false,"video":true,"echo":false,"null_unix_ms":1733660000123})");
    EXPECT_EQ(zeileDegraded("me", "Zugriff\nverweigert \"Mikro\""),
              R"({"event":"degraded","channel":"me","message":"Zugriff verweigert \"Mikro\""})");
    EXPECT_EQ(zeileError("kein Display gefunden"),
              R"({"event":"error","message":"kein Display gefunden"})");
    EXPECT_EQ(
        zeileChunk(3, "them", "/a/chunk_them_003.wav", 12.345, 16.0, std::nullopt),
        R"({"chunk":3,"channel":"them","path":"/a/chunk_them_003.wav","t0":12.35,"t1":16.00})");
    EXPECT_EQ(
        zeileChunk(0, "me", "/a\"b/c.wav", 0, 1.5, 48),
        R"({"chunk":0,"channel":"me","path":"/a\"b/c.wav","t0":0.00,"t1":1.50,"sprache_ms":48})");
    EXPECT_EQ(
        zeileVideoZiel("video_start", "zoom.us \u2014 Meeting", "fenster", 1, "Titel \"x\"", 3.25),
        R"({"event":"video_start","quelle":"zoom.us — Meeting","art":"fenster","rang":1,"grund":"Titel \"x\"","t_s":3.2})");
    EXPECT_EQ(zeileVideoPause("Fenster verschwunden", 10.06),
              R"({"event":"video_pause","message":"Fenster verschwunden","t_s":10.1})");
    EXPECT_EQ(zeileVideoNone("kein Meeting"), R"({"event":"video_none","message":"kein Meeting"})");
    EXPECT_EQ(zeileVideo("/o/video.mp4", 120, "Zoom"),
              R"({"event":"video","path":"/o/video.mp4","frames":120,"quelle":"Zoom"})");
    EXPECT_EQ(zeileEcho(R"({"event":"echo","bloecke":5})", 2),
              R"({"event":"echo","bloecke":5,"chunks_ohne_sprache":2})");
    EXPECT_EQ(zeileZeitachse(R"("them":{"luecken":0})", R"("me":{"luecken":2})"),
              R"({"event":"zeitachse","them":{"luecken":0},"me":{"luecken":2}})");
    EXPECT_EQ(zeileDone(), R"({"event":"done"})");
    for (const std::string& zeile :
         {zeileChunk(1, "me", "/x\x01y", -1.0, 2.0, 0), zeileDegraded("them", "\x07\t")}) {
        EXPECT_FALSE(nlohmann::json::parse(zeile, nullptr, false).is_discarded()) << zeile;
    }
}

TEST(EventLines, NumbersUseAPointWhateverTheLocale) {
    EXPECT_EQ(formatFest(1.005, 1), "1.0");
    EXPECT_EQ(formatFest(-0.25, 2), "-0.25");
    EXPECT_EQ(formatFest(40.4, 0), "40");
}

TEST(EmitAndLog, EachCallIsOneCompleteLine) {
    ZeilenMitschnitt m;
    emit("");
    emit(zeileDone());
    log("[hoerspur] Test");
    EXPECT_EQ(m.ereignisText(), "\n{\"event\":\"done\"}\n");
    EXPECT_EQ(m.logText(), "[hoerspur] Test\n");
}

TEST(EmitAndLog, LinesFromManyThreadsNeverInterleave) {
    ZeilenMitschnitt m;
    constexpr int kThreads = 8;
    constexpr int kZeilen = 500;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([t] {
            const std::string zeile = "{\"thread\":" + std::to_string(t) + ",\"text\":\"" +
                                      std::string(200 + t * 37, static_cast<char>('a' + t)) + "\"}";
            for (int i = 0; i < kZeilen; ++i) {
                emit(zeile);
                log("[hoerspur] " + zeile);
            }
        });
    }
    for (auto& th : threads) th.join();
    for (const std::string& text : {m.ereignisText(), m.logText()}) {
        std::vector<int> anzahl(kThreads, 0);
        size_t start = 0;
        int zeilen = 0;
        while (start < text.size()) {
            const size_t ende = text.find('\n', start);
            ASSERT_NE(ende, std::string::npos);
            std::string zeile = text.substr(start, ende - start);
            if (zeile.rfind("[hoerspur] ", 0) == 0) zeile.erase(0, 11);
            const auto j = nlohmann::json::parse(zeile);
            const int t = j.at("thread").get<int>();
            EXPECT_EQ(j.at("text").get<std::string>(),
                      std::string(200 + t * 37, static_cast<char>('a' + t)));
            ++anzahl[static_cast<size_t>(t)];
            ++zeilen;
            start = ende + 1;
        }
        EXPECT_EQ(zeilen, kThreads * kZeilen);
        for (int n : anzahl) EXPECT_EQ(n, kZeilen);
    }
}

}  // namespace
}  // namespace hoerspur
