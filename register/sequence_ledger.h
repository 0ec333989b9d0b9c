#pragma once
// The last sequence number the register journalled for each card, kept apart from the card:
// read from the S files of the home's journals at start and brought up to date by every answer
// after. A card is its name, its number and the key of its certificate. A card put back from a
// backup, one whose damaged books went back, or one that misbehaves answers a number at or
// below the last one journalled, and the register refuses it before it becomes a receipt.
// User-interface thread only.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>
#include <tuple>
#include <vector>

#include "common/bytes.h"
#include "common/result.h"
#include "protocol/number_guard.h"

namespace kasse {

// Sixteen hexadecimal digits of the SHA-256 of the certificate's public key (its
// SubjectPublicKeyInfo); empty when `certificateFile` (the card's certificate, its issuer's
// behind it) holds no certificate.
std::string CardKeyId(ByteSpan certificateFile);

class SequenceLedger final : public NumberGuard {
 public:
  explicit SequenceLedger(std::filesystem::path home) : home_(std::move(home)) {}

  // Reads every S file of Journal/; a file it cannot read is named in `warnings`.
  void ReadJournals(std::vector<Error>& warnings);
  // The card now answering: its name, number and key (CardKeyId). A known name and number with
  // another key is another card whose numbers start afresh; `warnings` then says so.
  void SetCard(const std::string& tpId, std::uint64_t tpIdNo, const std::string& keyId,
               std::vector<Error>& warnings);

  Result<void> Check(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                     std::uint64_t number) const override;
  void Journalled(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                  std::uint64_t number, std::string_view date) override;

  // The last number journalled for the current card (0: none).
  std::uint64_t Last(NumberKind kind) const;

 private:
  // A card as the journals know it; an empty key: a record whose pair names another card.
  using CardKey = std::tuple<std::string, std::uint64_t, std::string>;
  struct Entry {
    std::uint64_t last = 0;
    std::string date;            // yyyymmdd of the record with `last`
    std::filesystem::path file;  // the S file that holds it (empty: this run's)
  };
  // Where a number was journalled: its date (yyyymmdd) and file.
  struct Place {
    std::string date;
    std::filesystem::path file;
  };
  using Book = std::map<CardKey, Entry>;

  void Note(NumberKind kind, const CardKey& card, std::uint64_t number, std::string_view date,
            const std::filesystem::path& file);
  const Entry* Find(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo) const;
  // Where `number` of the card was journalled, searched in the journals; nothing when no
  // record has it.
  std::optional<Place> PlaceOf(NumberKind kind, std::string_view tpId, std::uint64_t tpIdNo,
                               std::uint64_t number) const;

  std::filesystem::path home_;
  std::string currentKey_;
  Book transactions_, reports_;
};

}  // namespace kasse
