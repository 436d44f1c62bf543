// The law's sixteen states: who writes each, who reads it, and why.
//
// Each state has one owner, the module whose functions alone write it; a
// state another module must see changed at a hemisphere change is changed by
// a function of its owner, which guide() (guidance_step.cpp) calls at that
// point. Flags are tested through flag_tests.h, each with the rule named.
//
// state             owner: set / written            cleared / reset               read by
// ----------------  ------------------------------  ----------------------------  -----------------
// Rear manoeuvres (rear_manoeuvres.cpp)
// splits_active     dive: steep command, not yet    release_rear_latches: ahead   dive (which branch
//                   latched                         and not inverted              runs, == 1 / == 0)
// splits_pull       split_manoeuvre: rolled within  release_rear_latches, with    split_manoeuvre
//                   1 deg of inverted or 2.5 s      splits_active                 (!= 0: pull)
// splits_timer      split_manoeuvre: counts the     split_manoeuvre: 0 while      split_manoeuvre
//                   roll phase up                   pulling
// splits_bank       dive: as the split latches      -                             split_manoeuvre
// sign_latch        dive: shallow command almost    release_rear_latches: ahead   dive, rear_turn
//                   straight behind
// turn_sign         dive: with sign_latch (side of  - (fresh states: +1)          rear_turn, while
//                   the error); as the split                                      sign_latch == 1
//                   latches (side of the roll)
// bank_captured     rear_turn: roll within 5 deg,   release_rear_latches: ahead,  rear_turn
//                   elevation error under 30 deg    only with sign_latch set
// inverted_latch    climb: went inverted            dive, release_rear_latches:   climb (roll-over)
//                                                   whenever not inverted
// Forward pursuit (forward_pursuit.cpp)
// upright_latch     forward_pursuit: recovery       forward_pursuit: upright,     geometry (which
//                   starts upside down              wings near level;             angle to steer on),
//                                                   cancel_upright_recovery:      forward_pursuit
//                                                   any dive behind
// front_roll_err    forward_pursuit: each bank it   -                             forward_pursuit
//                   computes                                                      (recovery end)
// The hemisphere hand-over (guidance_step.cpp)
// was_behind        mark_command_behind: every      take_over_from_rear: first    take_over_from_rear
//                   rear step                       step ahead
// front_entry_roll  take_over_from_rear: the roll   -                             forward_pursuit
//                   as the command comes ahead                                    (upside down)
// Command mixing (command_mixing.cpp)
// orbit_latched     update_orbit_latch: band above  update_orbit_latch: band      update_orbit_latch
//                   2.5, not yet latched            below 2.5                     (< 0.5)
// orbit_yaw_ref     update_orbit_latch: as the      -                             orbit_bank_command
// orbit_alt_ref     orbit latches                   -                             orbit_bank_command
// ext_bank_latch    blended_bank: takeover window,  blended_bank: takeover band,  blended_bank
//                   external bank opposes the roll  weight outside the window     (< 0.5, > 0.5)
//
// Why the rear latches are released ahead: the split manoeuvre and the
// frozen turn direction exist to turn the aircraft round; once the command
// is ahead they have done so. The split is kept while still inverted, so a
// command that swings behind again mid-roll finds the manoeuvre running.
// Why a dive cancels the upright recovery: the rear manoeuvres fly their own
// roll, and a recovery resumed on the next step ahead would fight it.
//
// With guidance off (guide_ref 0) no guidance state changes, so a manoeuvre
// in progress resumes where it stopped; the mode latches still follow the
// mode.
#ifndef STATE_MACHINE_H
#define STATE_MACHINE_H

#include "GuideW_types.h"
#include "guidance_stages.h"

// Rear manoeuvres: the command is ahead again, so the manoeuvres that turned
// the aircraft round are over (the split only once upright).
void release_rear_latches(const AttitudeTests& att, GuideWStates& dw);

// Forward pursuit: a dive behind ends any upright recovery.
void cancel_upright_recovery(GuideWStates& dw);

#endif
