#include "verify/trust_store.h"

#include <openssl/err.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>

#include <ctime>

namespace kasse {
namespace {

// "" when `now` lies inside the certificate's validity period, else what is wrong.
std::string PeriodProblem(X509* x509, std::int64_t now) {
  auto at = static_cast<std::time_t>(now);
  std::time_t* when = now == 0 ? nullptr : &at;
  if (X509_cmp_time(X509_get0_notBefore(x509), when) > 0) return "not yet valid";
  if (X509_cmp_time(X509_get0_notAfter(x509), when) < 0) return "expired";
  return "";
}

// "" when the issuer may sign card certificates, else why not.
std::string IssuerProblem(const ParsedCertificate& issuer, std::int64_t now) {
  X509* x509 = issuer.X509Object();
  const std::string named = "the issuer " + issuer.Subject();
  if (const std::string period = PeriodProblem(x509, now); !period.empty())
    return named + " is " + period;
  if ((X509_get_extension_flags(x509) & EXFLAG_CA) == 0) return named + " is no CA";
  if ((X509_get_key_usage(x509) & KU_KEY_CERT_SIGN) == 0)
    return named + " may not sign certificates (key usage)";
  return "";
}

}  // namespace

Result<void> TrustStore::Add(ByteSpan der) {
  auto issuer = ParsedCertificate::FromDer(der);
  if (!issuer) return issuer.error();
  for (const auto& known : issuers_)
    if (known->Der() == (*issuer)->Der()) return {};
  issuers_.push_back(*issuer);
  return {};
}

std::string TrustStore::ChainProblem(const ParsedCertificate& card, std::int64_t now) const {
  X509* x509 = card.X509Object();
  const std::string named = "card certificate " + card.Subject() + ": ";
  std::string problem;
  for (const auto& issuer : issuers_) {
    if (X509_NAME_cmp(X509_get_issuer_name(x509), X509_get_subject_name(issuer->X509Object())) !=
        0) {
      continue;
    }
    if (std::string why = IssuerProblem(*issuer, now); !why.empty()) {
      problem = std::move(why);
      continue;
    }
    if (X509_verify(x509, issuer->Key()) != 1) {
      ERR_clear_error();
      problem = "the signature of the issuer " + issuer->Subject() + " does not match";
      continue;
    }
    if (const std::string period = PeriodProblem(x509, now); !period.empty()) return named + period;
    if ((X509_get_key_usage(x509) & KU_DIGITAL_SIGNATURE) == 0)
      return named + "its key may not sign (key usage)";
    return "";
  }
  if (problem.empty()) {
    char issuerName[512];
    X509_NAME_oneline(X509_get_issuer_name(x509), issuerName, sizeof issuerName);
    problem = issuers_.empty() ? "no issuer is trusted (give one with --ca FILE)"
                               : std::string("its issuer ") + issuerName + " is not trusted";
  }
  return named + problem;
}

}  // namespace kasse
