#include "logging/DDLogMessage.h"

#include <string.h>

#include <functional>

#include "dispatch/Queue.h"
#include "logging/DDLogFlags.h"
#include "logging/internal/DDThreadFacts.h"
#include "logging/internal/NoDestructor.h"

namespace {

const DDText& emptyText() {
    static logging::internal::NoDestructor<DDText> empty(std::make_shared<const std::string>());
    return *empty;
}

}  // namespace

DDLogMessage::DDLogMessage(DDText message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                           std::string_view file, std::string_view function, std::uint64_t line, DDTag tag,
                           std::int64_t options, std::optional<Clock::time_point> timestamp)
    // Texts are immutable, so sharing the caller's text is as good as a private copy.
    : message_(message ? std::move(message) : emptyText()),
      level_(level),
      flag_(flag),
      context_(context),
      line_(line),
      representedObject_(std::move(tag)),
      options_(options),
      timestamp_(timestamp ? *timestamp : Clock::now()),
      qos_(dispatch::currentQos()) {
    if ((options & LogMessageOptions::CopyFile) != 0) {
        ownedFile_ = std::make_shared<const std::string>(file);
        file_ = *ownedFile_;
    } else {
        file_ = file;
    }
    if ((options & LogMessageOptions::CopyFunction) != 0) {
        ownedFunction_ = std::make_shared<const std::string>(function);
        function_ = *ownedFunction_;
    } else {
        function_ = function;
    }
    fileName_ = deriveFileName(file_);
    const auto& facts = logging::internal::currentThreadFacts();
    threadID_ = facts.threadID;
    threadName_ = facts.threadName;
    queueLabel_ = dispatch::Queue::currentLabel();
}

DDLogMessage::DDLogMessage(std::string message, std::uint64_t level, std::uint64_t flag, std::int64_t context,
                           std::string_view file, std::string_view function, std::uint64_t line, DDTag tag,
                           std::int64_t options, std::optional<Clock::time_point> timestamp)
    : DDLogMessage(std::make_shared<const std::string>(std::move(message)), level, flag, context, file,
                   function, line, std::move(tag), options, timestamp) {}

// Views stay valid: they point at literals the caller keeps or at the shared owned copies.
DDLogMessage::DDLogMessage(const DDLogMessage& other) = default;

std::size_t DDLogMessage::hash() const {
    const std::hash<std::string_view> text;
    std::size_t h = std::hash<const void*>()(this);
    h ^= text(*message_) ^ text(file_) ^ text(fileName_) ^ text(function_);
    h ^= std::hash<const void*>()(representedObject_.get());
    h ^= std::hash<Clock::rep>()(timestamp_.time_since_epoch().count());
    h ^= text(*threadID_) ^ text(*queueLabel_);
    h ^= level_ ^ flag_ ^ static_cast<std::size_t>(context_) ^ line_ ^ static_cast<std::size_t>(options_) ^
         qos_;
    return h;
}

DDLogMessagePtr DDLogMessage::copyWithMessage(DDText message) const {
    auto copy = std::make_shared<DDLogMessage>(*this);
    copy->message_ = message ? std::move(message) : emptyText();
    return copy;
}

std::string_view DDLogMessage::deriveFileName(std::string_view file) {
    // memrchr rather than rfind: it runs for every record, and the library's version scans in wide steps.
    const auto* slash = static_cast<const char*>(::memrchr(file.data(), '/', file.size()));
    const std::string_view component = slash == nullptr ? file : file.substr(slash + 1 - file.data());
    const auto* dot = static_cast<const char*>(::memrchr(component.data(), '.', component.size()));
    return dot == nullptr ? component : component.substr(0, dot - component.data());
}
