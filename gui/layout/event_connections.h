#pragma once

#include <wx/event.h>
#include <wx/weakref.h>

#include <cstddef>
#include <type_traits>
#include <vector>

namespace frm {
namespace fb {

/// The event table of one layout: connects events of its controls (or of the
/// window itself) to the layout's handler operations through wxEvtHandler's
/// Connect, with the layout as receiver and no user data, and remembers each
/// connection so that the layout's destructor can undo exactly these, in the
/// same order, before the controls go. A handler named as a virtual operation
/// runs the window class's implementation. A control destroyed before the
/// layout (its parent's children destroyed first) took its connections along
/// and is passed over.
///
/// GUI thread only; owned by the layout, which calls disconnectAll() first
/// thing in its destructor (a connection left to a half-destroyed layout would
/// call a pure virtual operation).
class EventConnections {
public:
    /// What a layout connects, in the layout's order.
    struct Connection {
        wxEvtHandler* source;
        wxEventType type;
        wxObjectEventFunction function;
        wxEvtHandler* receiver;
    };

    /// Connects `type` of `source` to `handler` of `receiver`. The handler's
    /// event class must be the event type's class or one of its bases.
    template <class Receiver, class Event, class TagEvent>
    void connect(wxEvtHandler* source, const wxEventTypeTag<TagEvent>& type,
                 void (Receiver::*handler)(Event&), Receiver* receiver) {
        static_assert(std::is_base_of<Event, TagEvent>::value, "the handler takes another event class");
        static_assert(std::is_base_of<wxEvtHandler, Receiver>::value, "the receiver is no event handler");
        add(source, type, toObjectFunction(handler), receiver);
    }

    /// The nineteen mouse events that count as the operator's activity, in
    /// their fixed order, all to one handler.
    template <class Receiver>
    void connectUserActivity(wxEvtHandler* source, void (Receiver::*handler)(wxMouseEvent&),
                             Receiver* receiver) {
        for (const wxEventType type : userActivityEvents())
            add(source, type, toObjectFunction(handler), receiver);
    }

    /// Undoes every connection made so far, in the order they were made, and
    /// forgets them; a second call does nothing.
    void disconnectAll();

    std::size_t count() const { return m_connections.size(); }
    const std::vector<Connection>& connections() const { return m_connections; }

    /// wxEVT_LEFT_DOWN ... wxEVT_MOUSEWHEEL, in connection order.
    static const std::vector<wxEventType>& userActivityEvents();

private:
    template <class Receiver, class Event>
    static wxObjectEventFunction toObjectFunction(void (Receiver::*handler)(Event&)) {
        // As the toolkit's handler macros do: up to the event handler base,
        // then to the function type its tables store.
        return wxEventFunctionCast(static_cast<void (wxEvtHandler::*)(Event&)>(handler));
    }

    void add(wxEvtHandler* source, wxEventType type, wxObjectEventFunction function, wxEvtHandler* receiver);

    std::vector<Connection> m_connections;
    /// The sources, held weakly, in the same order.
    std::vector<wxWeakRef<wxEvtHandler>> m_sources;
};

}  // namespace fb
}  // namespace frm
