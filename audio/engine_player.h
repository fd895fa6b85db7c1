#pragma once

#include <cstdint>

// What the player engine needs of the player: when a source ends by itself
// (a plug-in's end of track, a sine that stopped) the engine moves the
// player to its next item, but only while the player plays and is not in the
// middle of a stop it makes itself.
//
// state(), switching() and ticket() are read under the engine lock, so they
// must not take the player's lock (the player calls the engine with its own
// lock held); atomics are the intended form. itemEnded() is called from a
// dispatcher job, never under the engine lock.
class EnginePlayer {
public:
    static constexpr int k_state_playing = 1;

    virtual ~EnginePlayer() = default;
    virtual int state() const = 0;
    virtual bool switching() const = 0;
    virtual void next() = 0;
    /// Changes with every start and stop of the player. The engine reads it
    /// (before state() and switching()) when a source ends by itself and
    /// hands it back with that end, so that a player which has stopped or
    /// started anew since can tell that the end is no longer its own.
    virtual std::uint64_t ticket() const { return 0; }
    /// The end of the item started under `ticket`, after it had given
    /// `audioMs` of audio to the output; `lengthMs` is the item's length as
    /// its plug-in tells it, zero or less when not known (a stream, a tone).
    /// By default: next().
    virtual void itemEnded(std::uint64_t ticket, std::uint32_t audioMs, std::int32_t lengthMs) {
        (void)ticket;
        (void)audioMs;
        (void)lengthMs;
        next();
    }
};
