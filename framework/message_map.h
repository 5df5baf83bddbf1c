// Message maps and control-event maps as tables. Each class that handles messages
// lists them in one place, in its .cpp file:
//
//   BEGIN_MESSAGE_MAP(CMyDlg, CDialog)
//       ON_WM_PAINT()
//       ON_EN_CHANGE(IDC_SEARCH_EDIT, OnChangeSearchEdit)
//       ON_COMMAND(ID_FILE_EXIT, OnFileExit)
//   END_MESSAGE_MAP()
//
//   BEGIN_EVENTSINK_MAP(CMyDlg, CDialog)
//       ON_EVENT(CMyDlg, IDC_NEXT_BUTTON, 1, OnClickNextButton, VTS_NONE)
//   END_EVENTSINK_MAP()
//
// A lookup walks the class's own table first, then its base classes' tables.
// Handlers take no arguments; event handlers whose event carries arguments take
// them as one const QVariantList&. A handler with a result (OnQueryDragIcon) has it
// handed back to the dispatcher.
#pragma once

#include <QVariantList>
#include <type_traits>

namespace framework {

class CCmdTarget;

enum class Message { None, Command, Paint, QueryDragIcon };

using MessageInvoker = void (*)(CCmdTarget* target, void* result);
using EventInvoker = void (*)(CCmdTarget* target, const QVariantList& args);

struct MessageMapEntry {
    Message message;
    unsigned code;        // notification code for Command (0 = BN_CLICKED / menu)
    int id;               // control or command id
    MessageInvoker invoke;
    const char* handler;  // the handler's name
};

struct MessageMap {
    const MessageMap* (*base)();      // nullptr at the root
    const MessageMapEntry* entries;   // ends with an entry whose message is None
};

struct EventSinkEntry {
    int controlId;
    int dispid;
    EventInvoker invoke;
    const char* handler;
    const char* params;               // VTS_ parameter description
};

struct EventSinkMap {
    const EventSinkMap* (*base)();
    const EventSinkEntry* entries;    // ends with an entry whose invoke is nullptr
};

// Parameter descriptions of events, in the form the event map records them.
#define VTS_NONE ""
#define VTS_DISPATCH "DISPATCH "
#define VTS_I2 "I2 "
#define VTS_I4 "I4 "

namespace detail {

template <class T> struct MemberTraits;
template <class C, class R, class... A> struct MemberTraits<R (C::*)(A...)> {
    using Class = C;
    using Result = R;
    static constexpr int arity = sizeof...(A);
};

template <auto F>
void invokeMessage(CCmdTarget* target, void* result) {
    using Traits = MemberTraits<decltype(F)>;
    auto* object = static_cast<typename Traits::Class*>(target);
    if constexpr (std::is_void_v<typename Traits::Result>) {
        (object->*F)();
    } else {
        auto value = (object->*F)();
        if (result) *static_cast<typename Traits::Result*>(result) = value;
    }
}

template <auto F>
void invokeEvent(CCmdTarget* target, const QVariantList& args) {
    using Traits = MemberTraits<decltype(F)>;
    auto* object = static_cast<typename Traits::Class*>(target);
    if constexpr (Traits::arity == 0) {
        (void)args;
        (object->*F)();
    } else {
        (object->*F)(args);
    }
}

}  // namespace detail
}  // namespace framework

#define DECLARE_MESSAGE_MAP()                                                  \
public:                                                                        \
    static const ::framework::MessageMap* GetThisMessageMap();                 \
    const ::framework::MessageMap* GetMessageMap() const override;             \
protected:

#define BEGIN_MESSAGE_MAP(theClass, baseClass)                                 \
    const ::framework::MessageMap* theClass::GetMessageMap() const {           \
        return GetThisMessageMap();                                            \
    }                                                                          \
    const ::framework::MessageMap* theClass::GetThisMessageMap() {             \
        using ThisClass [[maybe_unused]] = theClass;                                          \
        using TheBaseClass = baseClass;                                        \
        static const ::framework::MessageMapEntry entries[] = {

#define END_MESSAGE_MAP()                                                      \
            {::framework::Message::None, 0u, 0, nullptr, nullptr}};            \
        static const ::framework::MessageMap map{&TheBaseClass::GetThisMessageMap, entries}; \
        return &map;                                                           \
    }

#define ON_COMMAND(id, memberFxn)                                              \
    {::framework::Message::Command, 0u, (id),                                  \
     &::framework::detail::invokeMessage<&ThisClass::memberFxn>, #memberFxn},
#define ON_BN_CLICKED(id, memberFxn) ON_COMMAND(id, memberFxn)
#define ON_EN_CHANGE(id, memberFxn)                                            \
    {::framework::Message::Command, 0x0300u, (id),                             \
     &::framework::detail::invokeMessage<&ThisClass::memberFxn>, #memberFxn},
#define ON_WM_PAINT()                                                          \
    {::framework::Message::Paint, 0u, 0,                                       \
     &::framework::detail::invokeMessage<&ThisClass::OnPaint>, "OnPaint"},
#define ON_WM_QUERYDRAGICON()                                                  \
    {::framework::Message::QueryDragIcon, 0u, 0,                               \
     &::framework::detail::invokeMessage<&ThisClass::OnQueryDragIcon>, "OnQueryDragIcon"},

#define DECLARE_EVENTSINK_MAP()                                                \
public:                                                                        \
    static const ::framework::EventSinkMap* GetThisEventSinkMap();             \
    const ::framework::EventSinkMap* GetEventSinkMap() const override;         \
protected:

#define BEGIN_EVENTSINK_MAP(theClass, baseClass)                               \
    const ::framework::EventSinkMap* theClass::GetEventSinkMap() const {       \
        return GetThisEventSinkMap();                                          \
    }                                                                          \
    const ::framework::EventSinkMap* theClass::GetThisEventSinkMap() {         \
        using TheBaseClass = baseClass;                                        \
        static const ::framework::EventSinkEntry entries[] = {

#define ON_EVENT(theClass, id, dispid, memberFxn, vtsParams)                   \
    {(id), (dispid), &::framework::detail::invokeEvent<&theClass::memberFxn>, #memberFxn, vtsParams},

#define END_EVENTSINK_MAP()                                                    \
            {0, 0, nullptr, nullptr, nullptr}};                                \
        static const ::framework::EventSinkMap map{&TheBaseClass::GetThisEventSinkMap, entries}; \
        return &map;                                                           \
    }
