#include "host/initiator.h"

#include <pwd.h>
#include <unistd.h>

#include <string>

#include "ozo/utf.h"

namespace host {

ivo::ChangeInitiator ProcessUser() {
  ivo::ChangeInitiator initiator;
  initiator.kind = ivo::ChangeInitiator::User;
  initiator.details.emplace();
  initiator.details->id = static_cast<std::uint32_t>(::getuid());
  const passwd* user = ::getpwuid(::getuid());
  const std::u16string name = ozo::text::Utf8ToUtf16(user ? user->pw_name : "unknown");
  initiator.details->name = ozo::string16_t(name.data(), name.size());
  return initiator;
}

}  // namespace host
