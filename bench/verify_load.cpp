#include "bench/verify_load.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/evp.h>
#include <openssl/x509.h>
#include <openssl/x509v3.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <fstream>
#include <mutex>
#include <thread>
#include <vector>

#include "common/base_n.h"
#include "common/card_tags.h"
#include "common/hex_text.h"
#include "sim/card_crypto.h"

namespace kasse::bench {
namespace {

using Clock = std::chrono::steady_clock;

struct KeyFree {
  void operator()(EVP_PKEY* key) const { EVP_PKEY_free(key); }
};
using KeyPtr = std::unique_ptr<EVP_PKEY, KeyFree>;

Bytes Der(X509* certificate) {
  unsigned char* der = nullptr;
  const int length = i2d_X509(certificate, &der);
  Bytes bytes(der, der + std::max(length, 0));
  OPENSSL_free(der);
  return bytes;
}

X509* Certificate(EVP_PKEY* key, EVP_PKEY* signer, X509* issuer, const char* name,
                  const char* number, bool ca) {
  X509* c = X509_new();
  X509_set_version(c, 2);
  ASN1_INTEGER_set(X509_get_serialNumber(c), ca ? 1 : 2);
  X509_gmtime_adj(X509_getm_notBefore(c), -3600);
  X509_gmtime_adj(X509_getm_notAfter(c), 86400);
  X509_set_pubkey(c, key);
  X509_NAME* subject = X509_get_subject_name(c);
  X509_NAME_add_entry_by_txt(subject, "CN", MBSTRING_ASC,
                             reinterpret_cast<const unsigned char*>(name), -1, -1, 0);
  if (number != nullptr)
    X509_NAME_add_entry_by_txt(subject, "serialNumber", MBSTRING_ASC,
                               reinterpret_cast<const unsigned char*>(number), -1, -1, 0);
  X509_set_issuer_name(c, issuer ? X509_get_subject_name(issuer) : subject);
  for (auto [nid, value] :
       {std::pair{NID_basic_constraints, ca ? "critical,CA:TRUE" : "CA:FALSE"},
        std::pair{NID_key_usage, ca ? "critical,keyCertSign" : "critical,digitalSignature"}}) {
    X509V3_CTX context;
    X509V3_set_ctx(&context, issuer ? issuer : c, c, nullptr, nullptr, 0);
    X509_EXTENSION* extension = X509V3_EXT_conf_nid(nullptr, &context, nid, value);
    X509_add_ext(c, extension, -1);
    X509_EXTENSION_free(extension);
  }
  X509_sign(c, signer, EVP_sha256());
  return c;
}

// A sale of two containers as a receipt's QR code carries it, without the signature.
Bytes SignedPart() {
  return HexParse(
      "CD 04 20 26 05 12 CE 02 09 30 C6 03 69 63 68 C7 14"
      " 00 01 02 03 04 05 06 07 08 09 0A 0B 0C 0D 0E 0F 10 11 12 13"
      " E1 08 D8 02 11 9C DB 02 19 00 E2 08 D8 02 05 3C DB 02 07 00"
      " C4 05 42 45 4E 43 48 C5 04 00 00 00 07 CB 04 00 00 01 2C");
}

void Write(const std::filesystem::path& path, ByteSpan bytes) {
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

}  // namespace

Result<void> PrepareVerifyReceipt(const std::filesystem::path& folder) {
  std::error_code error;
  std::filesystem::create_directories(folder / "certs", error);
  if (error) return MakeError(ErrorKind::kIo, folder.string() + ": " + error.message());
  KeyPtr issuerKey(EVP_EC_gen("brainpoolP192r1")), cardKey(EVP_EC_gen("brainpoolP192r1"));
  if (!issuerKey || !cardKey) return MakeError(ErrorKind::kIo, "cannot make keys");
  X509* issuer =
      Certificate(issuerKey.get(), issuerKey.get(), nullptr, "Bench issuer", nullptr, true);
  X509* card = Certificate(cardKey.get(), issuerKey.get(), issuer, "BENCH", "7", false);
  Write(folder / "issuer.der", Der(issuer));
  Write(folder / "certs" / "card.der", Der(card));
  X509_free(card);
  X509_free(issuer);
  Bytes payload = SignedPart();
  // Signed as the card signs: r || s through the card's own code.
  unsigned char* keyDer = nullptr;
  const int keyLength = i2d_PrivateKey(cardKey.get(), &keyDer);
  if (keyLength <= 0) return MakeError(ErrorKind::kIo, "cannot encode the card key");
  const Result<Bytes> signed_ =
      sim::SignMessage(ByteSpan(keyDer, static_cast<std::size_t>(keyLength)), payload);
  OPENSSL_free(keyDer);
  if (!signed_) return signed_.error();
  const Bytes& signature = *signed_;
  payload.push_back(tag::kSignature);
  payload.push_back(0x30);
  payload.insert(payload.end(), signature.begin(), signature.end());
  std::string t1 = Base64Encode(payload);
  for (char& c : t1)
    c = c == '+' ? '-' : c == '/' ? '_' : c;
  std::ofstream(folder / "t1.txt") << t1;
  return {};
}

double VerificationMicroseconds(double seconds) {
  KeyPtr key(EVP_EC_gen("brainpoolP192r1"));
  const Bytes message = SignedPart();
  EVP_MD_CTX* signing = EVP_MD_CTX_new();
  std::size_t length = 0;
  EVP_DigestSignInit(signing, nullptr, EVP_sha256(), nullptr, key.get());
  EVP_DigestSign(signing, nullptr, &length, message.data(), message.size());
  Bytes der(length);
  EVP_DigestSign(signing, der.data(), &length, message.data(), message.size());
  EVP_MD_CTX_free(signing);
  std::size_t count = 0;
  const Clock::time_point start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  Clock::time_point now = start;
  for (; now < end; now = Clock::now()) {
    for (int i = 0; i < 50; ++i, ++count) {
      EVP_MD_CTX* context = EVP_MD_CTX_new();
      EVP_DigestVerifyInit(context, nullptr, EVP_sha256(), nullptr, key.get());
      const int valid =
          EVP_DigestVerify(context, der.data(), length, message.data(), message.size());
      EVP_MD_CTX_free(context);
      if (valid != 1) return 0;
    }
  }
  return std::chrono::duration<double, std::micro>(now - start).count() /
         static_cast<double>(count);
}

double VerificationFloor(double seconds, int cores) {
  std::vector<double> microseconds(static_cast<std::size_t>(cores));
  std::vector<std::thread> threads;
  for (int c = 0; c < cores; ++c)
    threads.emplace_back(
        [&, c] { microseconds[static_cast<std::size_t>(c)] = VerificationMicroseconds(seconds); });
  for (std::thread& thread : threads)
    thread.join();
  double rate = 0;
  for (double each : microseconds)
    rate += each > 0 ? 1e6 / each : 0;
  return rate;
}

namespace {

int Connect(int port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_port = htons(static_cast<std::uint16_t>(port));
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  const int on = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &on, sizeof on);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

// One answer from fd into buffer; false when the connection ends first.
bool ReadAnswer(int fd, std::string& buffer, std::string& answer) {
  for (;;) {
    const std::size_t head = buffer.find("\r\n\r\n");
    if (head != std::string::npos) {
      const std::size_t field = buffer.find("Content-Length: ");
      const std::size_t length =
          field != std::string::npos && field < head ? std::stoul(buffer.substr(field + 16)) : 0;
      if (buffer.size() >= head + 4 + length) {
        answer = buffer.substr(0, head + 4 + length);
        buffer.erase(0, head + 4 + length);
        return true;
      }
    }
    char chunk[8192];
    const ssize_t got = ::recv(fd, chunk, sizeof chunk, 0);
    if (got <= 0) return false;
    buffer.append(chunk, static_cast<std::size_t>(got));
  }
}

}  // namespace

LoadRun RunVerifyLoad(int port, const std::string& t1, int clients, double seconds) {
  const std::string request = "GET /verify.php?t1=" + t1 +
                              " HTTP/1.1\r\nHost: 127.0.0.1\r\nAccept: application/json\r\n\r\n";
  std::mutex mutex;
  std::vector<double> latencies;
  std::atomic<std::size_t> failed{0};
  const Clock::time_point start = Clock::now();
  const auto end = start + std::chrono::duration<double>(seconds);
  std::vector<std::thread> threads;
  for (int c = 0; c < clients; ++c) {
    threads.emplace_back([&] {
      std::vector<double> mine;
      std::string buffer, answer;
      int fd = Connect(port);
      while (fd >= 0 && Clock::now() < end) {
        const Clock::time_point sent = Clock::now();
        const bool ok = ::send(fd, request.data(), request.size(), MSG_NOSIGNAL) ==
                            static_cast<ssize_t>(request.size()) &&
                        ReadAnswer(fd, buffer, answer);
        if (ok && answer.find("\"verdict\":\"valid\"") != std::string::npos) {
          mine.push_back(std::chrono::duration<double, std::milli>(Clock::now() - sent).count());
          // A proxy ends a keep-alive connection after so many requests, saying so.
          if (answer.find("\r\nConnection: close\r\n") < answer.find("\r\n\r\n")) {
            ::close(fd);
            buffer.clear();
            fd = Connect(port);
          }
          continue;
        }
        ++failed;
        ::close(fd);
        buffer.clear();
        fd = Connect(port);  // the service closed it: a fresh connection
      }
      if (fd >= 0) ::close(fd);
      std::lock_guard<std::mutex> lock(mutex);
      latencies.insert(latencies.end(), mine.begin(), mine.end());
    });
  }
  for (std::thread& thread : threads)
    thread.join();
  LoadRun run;
  run.seconds = std::chrono::duration<double>(Clock::now() - start).count();
  run.answered = latencies.size();
  run.failed = failed;
  if (!latencies.empty()) {
    std::sort(latencies.begin(), latencies.end());
    run.p50Milliseconds = latencies[latencies.size() / 2];
    run.p99Milliseconds = latencies[std::min(latencies.size() - 1, latencies.size() * 99 / 100)];
  }
  return run;
}

}  // namespace kasse::bench
