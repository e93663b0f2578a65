#include "playlist.h"

#include <cmath>
#include <cstdio>

namespace tarnwick::mkdisc {
namespace {

// "HH:MM:SS:FF" in frames of the 60 fps time base.
std::string timeCode(double seconds) {
  const auto frames = static_cast<long long>(std::llround(seconds * 60));
  char text[32];
  std::snprintf(text, sizeof text, "%02lld:%02lld:%02lld:%02lld", frames / 216000, frames / 3600 % 60,
                frames / 60 % 60, frames % 60);
  return text;
}

}  // namespace

std::string samplePlaylist(double secondsPerFile, const std::array<std::uint8_t, 3>& audioIds, double extraSeconds,
                           double trailerSeconds, const std::string& featureCodec) {
  const auto stream = [](std::uint8_t id, unsigned mask) { return std::to_string((id & mask) + 1); };
  const std::string ddp = stream(audioIds[0], 0x0F), dts = stream(audioIds[1], 0x07),
                    lpcm = stream(audioIds[2], 0x0F);
  const std::string total = timeCode(2 * secondsPerFile);
  std::string x;
  x += "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";
  x += "<!-- Sample disc playlist: one feature in two parts, an extra and a trailer. -->\n";
  x += "<Playlist xmlns=\"urn:tarnwick:sample:playlist\" majorVersion=\"1\" minorVersion=\"0\"\n";
  x += "          description=\"Sample disc\" displayName=\"Tarnwick Sample Disc\">\n";
  x += "  <Configuration>\n    <StreamingBuffer size=\"0\"/>\n    <Aperture value=\"1920x1080\"/>\n";
  x += "    <MainVideoDefaultColor color=\"108080\"/>\n  </Configuration>\n";
  x += "  <MediaAttributeList>\n";
  x += "    <VideoAttributeItem index=\"1\" codec=\"" + featureCodec +
       "\" sampleAspectRatio=\"16:9\" frameRate=\"24000/1001\"/>\n";
  x += "    <VideoAttributeItem index=\"2\" codec=\"VC-1\" sampleAspectRatio=\"16:9\" frameRate=\"24000/1001\"/>\n";
  x += "    <AudioAttributeItem index=\"1\" codec=\"DD+\" sampleFrequency=\"48\" channels=\"6\"/>\n";
  x += "    <AudioAttributeItem index=\"2\" codec=\"DTS-HD\" sampleFrequency=\"48\" channels=\"2\"/>\n";
  x += "    <AudioAttributeItem index=\"3\" codec=\"LPCM\" sampleFrequency=\"48\" sampleDepth=\"16\" channels=\"2\"/>\n";
  x += "    <SubpictureAttributeItem index=\"1\" codec=\"2bitRLC\"/>\n";
  x += "    <SubpictureAttributeItem index=\"2\" codec=\"8bitRLC\"/>\n";
  x += "  </MediaAttributeList>\n";
  x += "  <TitleSet timeBase=\"60fps\" defaultLanguage=\"en\">\n";
  x += "    <!-- The feature, in two parts -->\n";
  x += "    <Title id=\"Feature\" titleNumber=\"1\" type=\"Original\" displayName=\"The Sample Feature\"\n";
  x += "           titleDuration=\"" + total + "\" onEnd=\"Extra\">\n";
  x += "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_1.MAP\" titleTimeBegin=\"00:00:00:00\"\n";
  x += "                             titleTimeEnd=\"" + timeCode(secondsPerFile) + "\" dataSource=\"Disc\">\n";
  // As discs write them: no mediaAttr for the first table entry, the
  // languages in the TrackNavigationList below.
  x += "        <Video track=\"1\" angleNumber=\"1\"/>\n";
  x += "        <Audio track=\"1\" streamNumber=\"" + ddp + "\" description=\"English\"/>\n";
  x += "        <Audio track=\"2\" streamNumber=\"" + dts + "\" mediaAttr=\"2\" description=\"English Director's Commentary\"/>\n";
  x += "        <Audio track=\"3\" streamNumber=\"" + lpcm + "\" mediaAttr=\"3\" description=\"Fran\xC3\xA7" "ais\"/>\n";
  x += "        <Subtitle track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"English\"/>\n";
  x += "        <Subtitle track=\"2\" streamNumber=\"2\" mediaAttr=\"2\" description=\"\xE6\x97\xA5\xE6\x9C\xAC\xE8\xAA\x9E\"/>\n";
  x += "      </PrimaryAudioVideoClip>\n";
  x += "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/FEATURE_2.MAP\" titleTimeBegin=\"" +
       timeCode(secondsPerFile) + "\"\n";
  x += "                             titleTimeEnd=\"" + total + "\" dataSource=\"Disc\">\n";
  x += "        <Video track=\"1\" mediaAttr=\"1\" angleNumber=\"1\"/>\n";
  x += "        <Audio track=\"1\" streamNumber=\"" + ddp + "\" mediaAttr=\"1\" description=\"English\"/>\n";
  x += "      </PrimaryAudioVideoClip>\n";
  x += "      <ChapterList>\n";
  x += "        <Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"Opening\"/>\n";
  x += "        <Chapter titleTimeBegin=\"" + timeCode(secondsPerFile / 2) + "\" displayName=\"The Middle\"/>\n";
  x += "        <Chapter titleTimeBegin=\"" + timeCode(secondsPerFile + 0.25) + "\" displayName=\"\xC3\x89pilogue\"/>\n";
  x += "      </ChapterList>\n";
  // "jp" is the country code that discs write for Japanese.
  x += "      <TrackNavigationList>\n";
  x += "        <VideoTrack track=\"1\" angleNumber=\"1\" selectable=\"true\"/>\n";
  x += "        <AudioTrack track=\"1\" langcode=\"en:00\" selectable=\"true\"/>\n";
  x += "        <AudioTrack track=\"2\" langcode=\"en:01\" selectable=\"true\"/>\n";
  x += "        <AudioTrack track=\"3\" langcode=\"fr:00\" selectable=\"true\"/>\n";
  x += "        <SubtitleTrack track=\"1\" langcode=\"en:00\" selectable=\"true\"/>\n";
  x += "        <SubtitleTrack track=\"2\" langcode=\"jp:00\" selectable=\"true\"/>\n";
  x += "      </TrackNavigationList>\n";
  x += "    </Title>\n";
  // The extra and the trailer play an EVO each, shorter than the feature;
  // the extra also has German subtitles.
  const auto shortTitle = [&](const char* id, int number, const char* name, const std::string& duration,
                              const char* evo, const char* onEnd, bool subtitles) {
    x += "    <Title id=\"" + std::string(id) + "\" titleNumber=\"" + std::to_string(number) +
         "\" type=\"Original\" displayName=\"" + name + "\" titleDuration=\"" + duration + "\"" +
         (onEnd != nullptr ? std::string(" onEnd=\"") + onEnd + "\"" : std::string()) + ">\n";
    x += "      <PrimaryAudioVideoClip src=\"file:///dvddisc/HVDVD_TS/" + std::string(evo) +
         ".MAP\" titleTimeBegin=\"00:00:00:00\"\n";
    x += "                             titleTimeEnd=\"" + duration + "\" dataSource=\"Disc\">\n";
    x += "        <Video track=\"1\" mediaAttr=\"2\"/>\n";
    x += "        <Audio track=\"1\" streamNumber=\"" + ddp + "\" mediaAttr=\"1\" description=\"English\"/>\n";
    if (subtitles) x += "        <Subtitle track=\"1\" streamNumber=\"1\" mediaAttr=\"1\" description=\"Deutsch\"/>\n";
    x += "      </PrimaryAudioVideoClip>\n";
    x += "      <ChapterList>\n        <Chapter titleTimeBegin=\"00:00:00:00\" displayName=\"" + std::string(name) +
         "\"/>\n";
    x += "      </ChapterList>\n";
    x += "      <TrackNavigationList>\n";
    x += "        <VideoTrack track=\"1\" angleNumber=\"1\" selectable=\"true\"/>\n";
    x += "        <AudioTrack track=\"1\" langcode=\"en:00\" selectable=\"true\"/>\n";
    if (subtitles) x += "        <SubtitleTrack track=\"1\" langcode=\"de:00\" selectable=\"true\"/>\n";
    x += "      </TrackNavigationList>\n";
    x += "    </Title>\n";
  };
  shortTitle("Extra", 2, "Making Of", timeCode(extraSeconds), "EXTRA", "Trailer", true);
  shortTitle("Trailer", 3, "Trailer", timeCode(trailerSeconds), "TRAILER", nullptr, false);
  x += "  </TitleSet>\n";
  x += "</Playlist>\n";
  return x;
}

}  // namespace tarnwick::mkdisc
