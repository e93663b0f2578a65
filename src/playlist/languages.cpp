#include "playlist/languages.h"

#include <algorithm>
#include <iterator>
#include <utility>

namespace tarnwick {
namespace {

using Code = std::pair<std::string_view, std::string_view>;

// ISO 639-1 to ISO 639-2 (the bibliographic codes, as Matroska's language
// element takes them), sorted by the first code.
constexpr Code kIso639[] = {
    {"aa", "aar"}, {"ab", "abk"}, {"ae", "ave"}, {"af", "afr"}, {"ak", "aka"}, {"am", "amh"}, {"an", "arg"},
    {"ar", "ara"}, {"as", "asm"}, {"av", "ava"}, {"ay", "aym"}, {"az", "aze"}, {"ba", "bak"}, {"be", "bel"},
    {"bg", "bul"}, {"bh", "bih"}, {"bi", "bis"}, {"bm", "bam"}, {"bn", "ben"}, {"bo", "tib"}, {"br", "bre"},
    {"bs", "bos"}, {"ca", "cat"}, {"ce", "che"}, {"ch", "cha"}, {"co", "cos"}, {"cr", "cre"}, {"cs", "cze"},
    {"cu", "chu"}, {"cv", "chv"}, {"cy", "wel"}, {"da", "dan"}, {"de", "ger"}, {"dv", "div"}, {"dz", "dzo"},
    {"ee", "ewe"}, {"el", "gre"}, {"en", "eng"}, {"eo", "epo"}, {"es", "spa"}, {"et", "est"}, {"eu", "baq"},
    {"fa", "per"}, {"ff", "ful"}, {"fi", "fin"}, {"fj", "fij"}, {"fo", "fao"}, {"fr", "fre"}, {"fy", "fry"},
    {"ga", "gle"}, {"gd", "gla"}, {"gl", "glg"}, {"gn", "grn"}, {"gu", "guj"}, {"gv", "glv"}, {"ha", "hau"},
    {"he", "heb"}, {"hi", "hin"}, {"ho", "hmo"}, {"hr", "hrv"}, {"ht", "hat"}, {"hu", "hun"}, {"hy", "arm"},
    {"hz", "her"}, {"ia", "ina"}, {"id", "ind"}, {"ie", "ile"}, {"ig", "ibo"}, {"ii", "iii"}, {"ik", "ipk"},
    {"io", "ido"}, {"is", "ice"}, {"it", "ita"}, {"iu", "iku"}, {"ja", "jpn"}, {"jv", "jav"}, {"ka", "geo"},
    {"kg", "kon"}, {"ki", "kik"}, {"kj", "kua"}, {"kk", "kaz"}, {"kl", "kal"}, {"km", "khm"}, {"kn", "kan"},
    {"ko", "kor"}, {"kr", "kau"}, {"ks", "kas"}, {"ku", "kur"}, {"kv", "kom"}, {"kw", "cor"}, {"ky", "kir"},
    {"la", "lat"}, {"lb", "ltz"}, {"lg", "lug"}, {"li", "lim"}, {"ln", "lin"}, {"lo", "lao"}, {"lt", "lit"},
    {"lu", "lub"}, {"lv", "lav"}, {"mg", "mlg"}, {"mh", "mah"}, {"mi", "mao"}, {"mk", "mac"}, {"ml", "mal"},
    {"mn", "mon"}, {"mr", "mar"}, {"ms", "may"}, {"mt", "mlt"}, {"my", "bur"}, {"na", "nau"}, {"nb", "nob"},
    {"nd", "nde"}, {"ne", "nep"}, {"ng", "ndo"}, {"nl", "dut"}, {"nn", "nno"}, {"no", "nor"}, {"nr", "nbl"},
    {"nv", "nav"}, {"ny", "nya"}, {"oc", "oci"}, {"oj", "oji"}, {"om", "orm"}, {"or", "ori"}, {"os", "oss"},
    {"pa", "pan"}, {"pi", "pli"}, {"pl", "pol"}, {"ps", "pus"}, {"pt", "por"}, {"qu", "que"}, {"rm", "roh"},
    {"rn", "run"}, {"ro", "rum"}, {"ru", "rus"}, {"rw", "kin"}, {"sa", "san"}, {"sc", "srd"}, {"sd", "snd"},
    {"se", "sme"}, {"sg", "sag"}, {"si", "sin"}, {"sk", "slo"}, {"sl", "slv"}, {"sm", "smo"}, {"sn", "sna"},
    {"so", "som"}, {"sq", "alb"}, {"sr", "srp"}, {"ss", "ssw"}, {"st", "sot"}, {"su", "sun"}, {"sv", "swe"},
    {"sw", "swa"}, {"ta", "tam"}, {"te", "tel"}, {"tg", "tgk"}, {"th", "tha"}, {"ti", "tir"}, {"tk", "tuk"},
    {"tl", "tgl"}, {"tn", "tsn"}, {"to", "ton"}, {"tr", "tur"}, {"ts", "tso"}, {"tt", "tat"}, {"tw", "twi"},
    {"ty", "tah"}, {"ug", "uig"}, {"uk", "ukr"}, {"ur", "urd"}, {"uz", "uzb"}, {"ve", "ven"}, {"vi", "vie"},
    {"vo", "vol"}, {"wa", "wln"}, {"wo", "wol"}, {"xh", "xho"}, {"yi", "yid"}, {"yo", "yor"}, {"za", "zha"},
    {"zh", "chi"}, {"zu", "zul"},
};

// Codes discs write that are not the language's ISO 639-1 code: country
// codes (Japan, Denmark, Sweden, Greece, Czechia, China, Korea, the United
// States) and the codes ISO 639 withdrew (iw, in, ji). They are looked up
// before the table: "se" and "kr" are also codes of Northern Sami and
// Kanuri, but on a film disc they are Swedish and Korean.
constexpr Code kDiscCodes[] = {
    {"cn", "chi"}, {"cz", "cze"}, {"dk", "dan"}, {"gr", "gre"}, {"in", "ind"}, {"iw", "heb"},
    {"ji", "yid"}, {"jp", "jpn"}, {"kr", "kor"}, {"se", "swe"}, {"us", "eng"},
};

// The languages whose ISO 639-2 terminology code differs from the
// bibliographic one, by the terminology code.
constexpr Code kTerminology[] = {
    {"bod", "tib"}, {"ces", "cze"}, {"cym", "wel"}, {"deu", "ger"}, {"ell", "gre"}, {"eus", "baq"}, {"fas", "per"},
    {"fra", "fre"}, {"hye", "arm"}, {"isl", "ice"}, {"kat", "geo"}, {"mkd", "mac"}, {"mri", "mao"}, {"msa", "may"},
    {"mya", "bur"}, {"nld", "dut"}, {"ron", "rum"}, {"slk", "slo"}, {"sqi", "alb"}, {"zho", "chi"},
};

std::string_view lookUp(const Code* first, const Code* last, std::string_view code) {
  const Code* at = std::lower_bound(first, last, code, [](const Code& c, std::string_view k) { return c.first < k; });
  return at != last && at->first == code ? at->second : std::string_view();
}

}  // namespace

std::string matroskaLanguage(std::string_view langcode) {
  const std::string_view letters = langcode.substr(0, langcode.find(':'));
  if (letters.size() != 2) return "und";
  std::string code;
  for (const char c : letters) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return "und";
    code += static_cast<char>(c | 0x20);
  }
  std::string_view found = lookUp(std::begin(kDiscCodes), std::end(kDiscCodes), code);
  if (found.empty()) found = lookUp(std::begin(kIso639), std::end(kIso639), code);
  return found.empty() ? "und" : std::string(found);
}

std::string languageCode(std::string_view code) {
  std::string lower;
  for (const char c : code) {
    if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z'))) return {};
    lower += static_cast<char>(c | 0x20);
  }
  if (lower.size() == 2) {
    const std::string language = matroskaLanguage(lower);
    return language == "und" ? std::string() : language;
  }
  if (lower.size() != 3) return {};
  const std::string_view bibliographic = lookUp(std::begin(kTerminology), std::end(kTerminology), lower);
  return bibliographic.empty() ? lower : std::string(bibliographic);
}

}  // namespace tarnwick
