#include "recorder/driver/config.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <climits>
#include <initializer_list>
#include <string>
#include <vector>

namespace hoerspur {
namespace {

// Parses "hoerspur" followed by the given arguments.
Config parse(std::initializer_list<const char*> args) {
    std::vector<const char*> argv{"hoerspur"};
    argv.insert(argv.end(), args.begin(), args.end());
    return parseArgs(static_cast<int>(argv.size()), argv.data());
}

std::string arbeitsordner() {
    char puffer[PATH_MAX];
    return getcwd(puffer, sizeof puffer) ? std::string(puffer) : std::string();
}

TEST(ParseArgs, DefaultsWithoutArguments) {
    const Config c = parse({});
    EXPECT_EQ(c.outDir, arbeitsordner());
    EXPECT_EQ(c.chunkSeconds, 25.0);
    EXPECT_EQ(c.sampleRate, 16000.0);
    EXPECT_TRUE(c.turnMode);
    EXPECT_EQ(c.minSeconds, 1.2);
    EXPECT_EQ(c.maxSeconds, 4.0);
    EXPECT_EQ(c.silenceSeconds, 0.6);
    EXPECT_EQ(c.silenceRms, 0.006f);
    EXPECT_TRUE(c.video);
    EXPECT_EQ(c.videoWarten, 120.0);
    EXPECT_TRUE(c.echo);
    EXPECT_TRUE(c.rohMikro);
    EXPECT_TRUE(c.echoDatei.empty());
    EXPECT_FALSE(c.ohneNachfilter);
    EXPECT_FALSE(c.chunkOrdner);
    EXPECT_FALSE(c.fensterProbe);
    EXPECT_FALSE(c.alleFenster);
    EXPECT_FALSE(c.fensterWahl);
    EXPECT_FALSE(c.zeitachseTest);
}

TEST(ParseArgs, EveryOptionSetsItsField) {
    const Config c = parse({"--out",
                            "/tmp/x",
                            "--chunk",
                            "10",
                            "--rate",
                            "48000",
                            "--legacy-chunks",
                            "--max",
                            "6",
                            "--no-video",
                            "--video-warten",
                            "5",
                            "--kein-echo",
                            "--kein-roh-mikro",
                            "--echo-datei",
                            "m.wav",
                            "r.wav",
                            "o.wav",
                            "--ohne-nachfilter",
                            "--chunk-ordner",
                            "ch",
                            "--fenster-probe",
                            "--alle",
                            "--fenster-wahl",
                            "w.json",
                            "--zeitachse-test"});
    EXPECT_EQ(c.outDir, "/tmp/x");
    EXPECT_EQ(c.chunkSeconds, 10.0);
    EXPECT_EQ(c.sampleRate, 48000.0);
    EXPECT_FALSE(c.turnMode);
    EXPECT_EQ(c.maxSeconds, 6.0);
    EXPECT_FALSE(c.video);
    EXPECT_EQ(c.videoWarten, 5.0);
    EXPECT_FALSE(c.echo);
    EXPECT_FALSE(c.rohMikro);
    EXPECT_EQ(c.echoDatei, (std::vector<std::string>{"m.wav", "r.wav", "o.wav"}));
    EXPECT_TRUE(c.ohneNachfilter);
    EXPECT_EQ(c.chunkOrdner, "ch");
    EXPECT_TRUE(c.fensterProbe);
    EXPECT_TRUE(c.alleFenster);
    EXPECT_EQ(c.fensterWahl, "w.json");
    EXPECT_TRUE(c.zeitachseTest);
}

TEST(ParseArgs, LastOccurrenceWinsAndUnknownArgumentsAreSkipped) {
    EXPECT_FALSE(parse({"--video", "--no-video"}).video);
    EXPECT_TRUE(parse({"--kein-echo", "--echo"}).echo);
    EXPECT_EQ(parse({"--chunk", "5", "stray", "--chunk", "7"}).chunkSeconds, 7.0);
    // No abbreviations, no "=" forms.
    const Config c = parse({"--chunk=5", "--rat", "8000", "-o", "x"});
    EXPECT_EQ(c.chunkSeconds, 25.0);
    EXPECT_EQ(c.sampleRate, 16000.0);
}

TEST(ParseArgs, ValueIsTakenWhateverItLooksLike) {
    const Config c = parse({"--out", "--no-video"});
    EXPECT_EQ(c.outDir, "--no-video");
    EXPECT_TRUE(c.video);
    const Config d = parse({"--echo-datei", "--kein-echo", "a", "b"});
    EXPECT_EQ(d.echoDatei, (std::vector<std::string>{"--kein-echo", "a", "b"}));
    EXPECT_TRUE(d.echo);
    // The third value too is a value, never read again as an option.
    const Config e = parse({"--echo-datei", "a", "b", "--kein-echo"});
    EXPECT_EQ(e.echoDatei, (std::vector<std::string>{"a", "b", "--kein-echo"}));
    EXPECT_TRUE(e.echo);
}

TEST(ParseArgs, NumbersFollowTheWholeArgumentCLocaleRule) {
    EXPECT_EQ(parse({"--rate", "16000.0"}).sampleRate, 16000.0);
    EXPECT_EQ(parse({"--chunk", "1e1"}).chunkSeconds, 10.0);
    EXPECT_EQ(parse({"--chunk", "0x10"}).chunkSeconds, 16.0);
    EXPECT_EQ(parse({"--chunk", "+7.5"}).chunkSeconds, 7.5);
    for (const char* schlecht :
         {"25s", "", " 5", "\t5", "\n5", "\v5", "\f5", "\r5", "5 ", "abc", "1,5", "."}) {
        EXPECT_EQ(parse({"--chunk", schlecht}).chunkSeconds, 25.0) << '"' << schlecht << '"';
    }
    // A rejected number still consumes its value argument.
    EXPECT_FALSE(parse({"--chunk", "x", "--no-video"}).video);
}

TEST(ParseArgs, UnusableNumbersAreRejectedLikeUnreadableOnes) {
    for (const char* schlecht : {"inf", "-INFINITY", "nan", "NaN", "-5", "0", "1e300"}) {
        EXPECT_EQ(parse({"--chunk", schlecht}).chunkSeconds, 25.0) << schlecht;
        EXPECT_EQ(parse({"--max", schlecht}).maxSeconds, 4.0) << schlecht;
    }
    for (const char* schlecht : {"inf", "nan", "0", "-16000", "1e300"}) {
        EXPECT_EQ(parse({"--rate", schlecht}).sampleRate, 16000.0) << schlecht;
    }
    EXPECT_EQ(parse({"--video-warten", "-1"}).videoWarten, 120.0);
    EXPECT_EQ(parse({"--video-warten", "0"}).videoWarten, 0.0);
    // A rate that would overflow the sample count of an already given duration.
    EXPECT_EQ(parse({"--chunk", "1e10", "--rate", "1e12"}).sampleRate, 16000.0);
}

TEST(ParseArgs, MissingValueAtTheEnd) {
    EXPECT_EQ(parse({"--out"}).outDir, arbeitsordner());
    EXPECT_EQ(parse({"--chunk", "5", "--chunk"}).chunkSeconds, 5.0);
    EXPECT_FALSE(parse({"--chunk-ordner", "a", "--chunk-ordner"}).chunkOrdner);
    EXPECT_FALSE(parse({"--fenster-wahl", "a", "--fenster-wahl"}).fensterWahl);
    EXPECT_EQ(parse({"--echo-datei", "a", "b"}).echoDatei, (std::vector<std::string>{"a", "b"}));
    EXPECT_TRUE(parse({"--echo-datei", "a", "b", "c", "--echo-datei"}).echoDatei.empty());
    // Parsing ends at the incomplete option: nothing after it is looked at.
    EXPECT_FALSE(parse({"--echo-datei", "--zeitachse-test"}).zeitachseTest);
}

}  // namespace
}  // namespace hoerspur
