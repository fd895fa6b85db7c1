#pragma once

// What the player engine needs of the player: when a source ends by itself
// (a plug-in's end of track, a sine that stopped) the engine moves the
// player to its next item, but only while the player plays and is not in the
// middle of a stop it makes itself.
//
// state() and switching() are read under the engine lock, so they must not
// take the player's lock (the player calls the engine with its own lock
// held); atomics are the intended form. next() is called from a dispatcher
// job, never under the engine lock.
class EnginePlayer {
public:
    static constexpr int k_state_playing = 1;

    virtual ~EnginePlayer() = default;
    virtual int state() const = 0;
    virtual bool switching() const = 0;
    virtual void next() = 0;
};
