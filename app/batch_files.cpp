// The batch commands that show or write the register's data, and the mass generator.

#include <ostream>

#include "app/batch_runner.h"
#include "common/amount.h"
#include "common/cp1252.h"
#include "register/messages.h"

namespace kasse {

Result<void> BatchRunner::FileCommand(const BatchLine& line, bool& handled) {
  handled = true;
  const std::string& c = line.command;
  const auto& a = line.arguments;
  Register& r = *register_;
  if (c == "receipt") {
    for (const std::string& text : r.CurrentSale().ReceiptLines())
      out_ << Cp1252ToUtf8(text) << "\n";
    out_ << "--\n";
    return {};
  }
  if (c == "url") {
    if (auto may = r.ReceiptMayLeave(); !may) return may;
    if (r.LastVerifyUrl().empty()) return MakeError(ErrorKind::kMissingInput, "no URL yet");
    out_ << r.LastVerifyUrl() << "\n";
    return {};
  }
  if (c == "save-receipt" || c == "products-load" || c == "products-save") {
    if (a.size() != 1) return MakeError(ErrorKind::kMissingInput, "usage: " + c + " FILE");
    const std::filesystem::path file = a[0];
    if (c == "save-receipt") return r.SaveReceipt(file);
    if (c == "products-load") {
      Result<void> loaded = r.LoadProducts(file);
      if (loaded && r.Products().LoadNotice())
        err_ << "warning: " << Cp1252ToUtf8(r.Products().LoadNotice()->English()) << "\n";
      return loaded;
    }
    return r.EditProducts().SaveAs(file);
  }
  if (c == "export") {
    if (a.size() != 2 || (a[0] != "new" && a[0] != "open"))
      return MakeError(ErrorKind::kMissingInput, "usage: export new|open FILE");
    return r.Export(a[0] == "new" ? ExportKind::kNew : ExportKind::kOpen, a[1]);
  }
  if (c == "product-add") {
    Result<BookingPosition> product = MakeSpecialPosition(PositionFields(a));
    if (!product) return product.error();
    r.EditProducts().Add(*product);
    return {};
  }
  handled = false;
  return {};
}

Result<void> BatchRunner::Mass(const std::vector<std::string>& arguments) {
  Register::MassOptions options;
  std::array<std::int64_t, 5> values = {0, options.maxPositions, options.stornoChance,
                                        options.maxQuantity, 1};
  if (arguments.empty() || arguments.size() > values.size())
    return MakeError(ErrorKind::kMissingInput, "usage: mass N [MAXPOS [STORNO [MAXQTY [on|off]]]]");
  for (std::size_t i = 0; i < arguments.size(); ++i) {
    if (i == 4) {
      Result<bool> switching = OnOff({arguments[i]});
      if (!switching)
        return MakeError(ErrorKind::kMalformed, "mass: expected on or off, not " + arguments[i]);
      values[i] = *switching ? 1 : 0;
    } else {
      const Result<std::int64_t> number = ParseInteger(arguments[i]);
      if (!number || *number < 0 || *number > 1000000)
        return MakeError(ErrorKind::kMalformed, "mass: not a usable number: " + arguments[i]);
      values[i] = *number;
    }
  }
  options.transactions = static_cast<int>(values[0]);
  options.maxPositions = static_cast<int>(values[1]);
  options.stornoChance = static_cast<int>(values[2]);
  options.maxQuantity = static_cast<int>(values[3]);
  options.switchOperator = values[4] != 0;
  stop_ = false;
  int reported = 0;
  int refused = 0;
  auto progress = [&](int done, int total, int refusedSoFar) {
    refused = refusedSoFar;
    const int tenth = total > 0 ? done * 10 / total : 10;
    if (tenth == reported) return;
    reported = tenth;
    err_ << "mass: " << done << "/" << total << " (" << tenth * 10 << " %)\n";
  };
  Result<int> done = register_->MassTransactions(options, &stop_, progress);
  if (!done) return done.error();
  // The run went on past refused sales; the command still fails, naming how many.
  if (refused > 0)
    return MakeError(
        ErrorKind::kCard, msg::kMassRefusals,
        {std::to_string(*done - refused), std::to_string(*done), std::to_string(refused)});
  return {};
}

}  // namespace kasse
