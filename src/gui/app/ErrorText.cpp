#include "app/ErrorText.h"

#include "i18n/CTranslation.h"
#include "util/FileError.h"
#include "util/SafeFormat.h"

namespace {
constexpr std::string_view kMissingText = "---";
constexpr std::size_t kListedErrors = 15;

std::string TextOr(const CTranslation& texts, TextId id, std::string_view fallback) {
    std::string text = texts.GetText(id);
    return text == kMissingText ? std::string(fallback) : text;
}
}  // namespace

std::string MessageCaption(const CTranslation& texts) {
    return TextOr(texts, TextId::MessageCaption, "Tarnwick Backup");
}

std::string ErrorMessage(const std::exception& error, const CTranslation& texts) {
    const auto* fileError = dynamic_cast<const FileError*>(&error);
    if (fileError == nullptr) return error.what();
    std::string message =
        FormatText(TextOr(texts, TextId::FileErrorMessage, "The file %s could not be opened or written."),
                   fileError->path());
    // The reason follows the path in the description.
    const std::string description = fileError->what();
    const std::string prefix = fileError->path() + ": ";
    if (description.size() > prefix.size() && description.compare(0, prefix.size(), prefix) == 0)
        message += "\n\n" + description.substr(prefix.size());
    return message;
}

std::string TransferErrorsMessage(const std::vector<std::string>& errors, const CTranslation& texts) {
    std::string message = TextOr(texts, TextId::FailuresPrefix, "Failures: ") + std::to_string(errors.size());
    message += "\n";
    for (std::size_t i = 0; i < errors.size() && i < kListedErrors; ++i) message += "\n" + errors[i];
    if (errors.size() > kListedErrors) message += "\n...";
    return message;
}
