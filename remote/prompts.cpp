#include "remote/prompts.h"

#include "remote/target_text.h"

namespace tavo::remote {

namespace {
class NoPrompter final : public Prompter {
  public:
    TrustAnswer askTrust(const TrustQuestion&) override { return TrustAnswer::Cancel; }
    std::optional<SecretAnswer> askSecret(const SecretQuestion&) override { return std::nullopt; }
};
}  // namespace

std::shared_ptr<Prompter> makeNoPrompter() {
    return std::make_shared<NoPrompter>();
}

std::string TrustQuestion::where() const {
    Target t;
    t.host = host;
    t.port = port == 22 ? 0 : port;
    return t.display();
}

}  // namespace tavo::remote
