#include "platform/SystemLanguage.h"

#include <algorithm>
#include <cstdlib>
#include <string_view>

namespace {
struct LocaleId {
    std::string_view locale;  // "de_AT", or a bare language ("de") for the fallback
    std::string_view idHex;
};

// Windows language identifiers of the locales the translation's dialect lists
// can name. A bare language stands for its main dialect when the territory is
// not listed.
constexpr LocaleId kLocaleIds[] = {
    // German
    {"de", "0407"},
    {"de_DE", "0407"},
    {"de_CH", "0807"},
    {"de_AT", "0c07"},
    {"de_LU", "1007"},
    {"de_LI", "1407"},
    // English
    {"en", "0409"},
    {"en_US", "0409"},
    {"en_GB", "0809"},
    {"en_AU", "0c09"},
    {"en_CA", "1009"},
    {"en_NZ", "1409"},
    {"en_IE", "1809"},
    {"en_ZA", "1c09"},
    {"en_JM", "2009"},
    {"en_029", "2409"},
    {"en_BZ", "2809"},
    {"en_TT", "2c09"},
    {"en_ZW", "3009"},
    {"en_PH", "3409"},
    {"en_HK", "3c09"},
    {"en_IN", "4009"},
    {"en_MY", "4409"},
    {"en_SG", "4809"},
    // French
    {"fr", "040c"},
    {"fr_FR", "040c"},
    {"fr_BE", "080c"},
    {"fr_CA", "0c0c"},
    {"fr_CH", "100c"},
    {"fr_LU", "140c"},
    {"fr_MC", "180c"},
    {"fr_RE", "200c"},
    {"fr_CD", "240c"},
    {"fr_SN", "280c"},
    {"fr_CM", "2c0c"},
    {"fr_CI", "300c"},
    {"fr_ML", "340c"},
    {"fr_MA", "380c"},
    {"fr_HT", "3c0c"},
    // Spanish (modern sort for Spain)
    {"es", "0c0a"},
    {"es_ES", "0c0a"},
    {"es_MX", "080a"},
    {"es_GT", "100a"},
    {"es_CR", "140a"},
    {"es_PA", "180a"},
    {"es_DO", "1c0a"},
    {"es_VE", "200a"},
    {"es_CO", "240a"},
    {"es_PE", "280a"},
    {"es_AR", "2c0a"},
    {"es_EC", "300a"},
    {"es_CL", "340a"},
    {"es_UY", "380a"},
    {"es_PY", "3c0a"},
    {"es_BO", "400a"},
    {"es_SV", "440a"},
    {"es_HN", "480a"},
    {"es_NI", "4c0a"},
    {"es_PR", "500a"},
    {"es_US", "540a"},
    {"es_419", "580a"},
    {"es_CU", "5c0a"},
    // Dutch
    {"nl", "0413"},
    {"nl_NL", "0413"},
    {"nl_BE", "0813"},
    // Portuguese (Brazil is the main dialect of the translation)
    {"pt", "0416"},
    {"pt_BR", "0416"},
    {"pt_PT", "0816"},
    // Other common languages
    {"it", "0410"},
    {"it_IT", "0410"},
    {"it_CH", "0810"},
    {"sv", "041d"},
    {"sv_SE", "041d"},
    {"sv_FI", "081d"},
    {"zh", "0804"},
    {"zh_CN", "0804"},
    {"zh_TW", "0404"},
    {"zh_HK", "0c04"},
    {"zh_SG", "1004"},
    {"zh_MO", "1404"},
    {"nb", "0414"},
    {"nb_NO", "0414"},
    {"no", "0414"},
    {"no_NO", "0414"},
    {"nn", "0814"},
    {"nn_NO", "0814"},
    {"ar", "0401"},
    {"ar_SA", "0401"},
    {"ar_EG", "0c01"},
    {"bg", "0402"},
    {"ca", "0403"},
    {"cs", "0405"},
    {"da", "0406"},
    {"el", "0408"},
    {"fi", "040b"},
    {"he", "040d"},
    {"hu", "040e"},
    {"is", "040f"},
    {"ja", "0411"},
    {"ko", "0412"},
    {"pl", "0415"},
    {"ro", "0418"},
    {"ru", "0419"},
    {"hr", "041a"},
    {"sk", "041b"},
    {"sq", "041c"},
    {"th", "041e"},
    {"tr", "041f"},
    {"id", "0421"},
    {"uk", "0422"},
    {"be", "0423"},
    {"sl", "0424"},
    {"et", "0425"},
    {"lv", "0426"},
    {"lt", "0427"},
    {"fa", "0429"},
    {"vi", "042a"},
    {"eu", "042d"},
    {"hi", "0439"},
    {"ms", "043e"},
    {"sr", "081a"},
    {"gl", "0456"},
};

std::string_view Lookup(std::string_view locale) {
    const auto match = std::find_if(std::begin(kLocaleIds), std::end(kLocaleIds),
                                    [&](const LocaleId& id) { return id.locale == locale; });
    return match == std::end(kLocaleIds) ? std::string_view() : match->idHex;
}

// The locale the messages follow: the first of LC_ALL, LC_MESSAGES and LANG that is set.
std::string_view MessagesLocale() {
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
        const char* value = std::getenv(name);
        if (value != nullptr && *value != '\0') return value;
    }
    return {};
}
}  // namespace

std::string SystemLanguageIdHex() {
    std::string_view locale = MessagesLocale();
    // "de_AT.UTF-8@euro" -> "de_AT"
    locale = locale.substr(0, locale.find_first_of(".@"));
    if (locale.empty() || locale == "C" || locale == "POSIX") return {};
    if (const std::string_view id = Lookup(locale); !id.empty()) return std::string(id);
    return std::string(Lookup(locale.substr(0, locale.find('_'))));
}
