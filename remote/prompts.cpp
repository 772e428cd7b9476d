#include "remote/prompts.h"

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

}  // namespace tavo::remote
