#pragma once
// The messages of the product list.

#include "common/message_id.h"

namespace kasse::journal_msg {

inline constexpr MessageId kProductListUnreadable{132, "Product list %1 cannot be read: %2"};
inline constexpr MessageId kProductListNoItemList{133, "Product list %1: no <itemList> element"};
inline constexpr MessageId kProductListNotClosed{
    134, "Product list %1: <itemList> is not closed (file cut short?)"};
inline constexpr MessageId kProductListProblem{135, "Product list %1: %2"};
inline constexpr MessageId kNoProductListOpen{136, "No product list file is open"};
inline constexpr MessageId kItemNotNumber{137, "item \"%1\": %2 is not a usable number"};
inline constexpr MessageId kProductListSavedAsUtf8{
    171,
    "Product list %1: saved as UTF-8, not Windows-1252; read with conversion (characters without "
    "a Windows-1252 form became \"?\"). Save it as Windows-1252."};

inline constexpr const MessageId* kAll[] = {
    &kProductListUnreadable, &kProductListNoItemList, &kProductListNotClosed,  &kProductListProblem,
    &kNoProductListOpen,     &kItemNotNumber,         &kProductListSavedAsUtf8};

}  // namespace kasse::journal_msg
