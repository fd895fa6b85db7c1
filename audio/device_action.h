#pragma once

#include <map>
#include <set>

#include <boost/function.hpp>
#include <boost/shared_ptr.hpp>

// Applying one request to every loudspeaker of a set and collecting the
// answers per loudspeaker. An action binds one member function of a device
// class, with no argument or with one fixed in advance; the walks below
// visit a set in its order, hold the current device by shared pointer
// during the call and let a call's exception pass to the caller (whatever
// was collected so far is dropped with the map). They take no lock of their
// own: the caller's thread does the device exchanges.

/// One request on a device object of class T answering R.
template <class R, class T>
class IAction {
public:
    virtual R call(T& object) = 0;
    virtual ~IAction() = default;
};

template <class R, class T, class F>
class ActionArg0 : public IAction<R, T> {
public:
    explicit ActionArg0(F function) : m_function(function) {}
    R call(T& object) override { return (object.*m_function)(); }

private:
    F m_function;
};

template <class R, class T, class F, class A>
class ActionArg1 : public IAction<R, T> {
public:
    ActionArg1(F function, A value) : m_function(function), m_value(value) {}
    R call(T& object) override { return (object.*m_function)(m_value); }

private:
    F m_function;
    A m_value;
};

/// Every device of the set: its answer under its pointer.
template <class T, class R>
std::map<boost::shared_ptr<T>, R> applyActionToDeviceSet(const std::set<boost::shared_ptr<T>>& devices,
                                                         IAction<R, T>& action) {
    std::map<boost::shared_ptr<T>, R> results;
    for (const boost::shared_ptr<T>& device : devices) results[device] = action.call(*device);
    return results;
}

/// Every device of the set, in the set's order: the distinct answers.
template <class T, class R>
std::set<R> applyActionToDevices(const std::set<boost::shared_ptr<T>>& devices, IAction<R, T>& action) {
    std::set<R> results;
    for (const boost::shared_ptr<T>& device : devices) results.insert(action.call(*device));
    return results;
}

/// any: at least one true (false for none); otherwise every one true (true
/// for none).
template <class K>
bool combineActionResults(const std::map<K, bool>& results, bool any) {
    for (const auto& entry : results)
        if (entry.second == any) return any;
    return !any;
}

/// The devices that pass the condition, checked just before their action;
/// the others get no entry.
template <class T, class R>
std::map<boost::shared_ptr<T>, R> mapActionToDevicesIf(const std::set<boost::shared_ptr<T>>& devices,
                                                       IAction<bool, T>& condition, IAction<R, T>& action) {
    std::map<boost::shared_ptr<T>, R> results;
    for (const boost::shared_ptr<T>& device : devices)
        if (condition.call(*device)) results[device] = action.call(*device);
    return results;
}

/// True when no action ran; otherwise the OR of the results.
inline bool mergeActionResults(const std::set<bool>& results) { return results.empty() || results.count(true) > 0; }

/// The action on every device passing the condition, reduced by
/// mergeActionResults: false only when some ran and every one refused.
template <class T>
bool applyActionToDevicesIf(const std::set<boost::shared_ptr<T>>& devices, IAction<bool, T>& condition,
                            IAction<bool, T>& action) {
    std::set<bool> results;
    for (const boost::shared_ptr<T>& device : devices)
        if (condition.call(*device)) results.insert(action.call(*device));
    return mergeActionResults(results);
}

/// Calls apply(device, value) for every entry in the map's order; true when
/// every call returned true. An empty function raises boost::bad_function_call.
template <class T, class V>
bool applyStoredValues(const std::map<boost::shared_ptr<T>, V>& stored,
                       const boost::function<bool(const boost::shared_ptr<T>&, V)>& apply) {
    if (!apply) throw boost::bad_function_call();
    bool all = true;
    for (const auto& entry : stored)
        if (!apply(entry.first, entry.second)) all = false;
    return all;
}

/// The same for the devices that pass the condition only.
template <class T, class V>
bool applyStoredValues(const std::map<boost::shared_ptr<T>, V>& stored, IAction<bool, T>& condition,
                       const boost::function<bool(const boost::shared_ptr<T>&, V)>& apply) {
    if (!apply) throw boost::bad_function_call();
    bool all = true;
    for (const auto& entry : stored)
        if (condition.call(*entry.first) && !apply(entry.first, entry.second)) all = false;
    return all;
}
