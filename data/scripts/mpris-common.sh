# mpris-common.sh: what the agent's media scripts share. Sourced, not run.
#
# The scripts drive the desktop's media player over MPRIS on the session bus:
# the first player (in the bus's name order) that is playing, otherwise the
# first player found. No player, no bus or a failing call does nothing: the
# scripts print nothing and always exit 0, since the agent runs them on a
# button press and has nobody to tell.

# Nothing a tool says on its error stream reaches the agent's log.
exec 2>/dev/null

MPRIS_PATH=/org/mpris/MediaPlayer2
MPRIS_PLAYER=org.mpris.MediaPlayer2.Player
# Seconds one call may take; a hung player must not hold the agent, which
# gives a script 10 seconds in all.
MPRIS_TIMEOUT=2

# mpris_call DEST METHOD [ARG...]: one method call; its reply on stdout.
mpris_call() {
    mpris_dest=$1
    shift
    gdbus call --session --timeout "$MPRIS_TIMEOUT" --dest "$mpris_dest" \
        --object-path "$MPRIS_PATH" --method "$@"
}

# The bus names of the media players, one a line, in the bus's order.
mpris_players() {
    gdbus call --session --timeout "$MPRIS_TIMEOUT" --dest org.freedesktop.DBus \
        --object-path /org/freedesktop/DBus --method org.freedesktop.DBus.ListNames |
        grep -o "'org\.mpris\.MediaPlayer2\.[^']*'" | tr -d "'"
}

# mpris_get DEST PROPERTY: the player property's value as GVariant text
# ('Playing', true, ...); nothing when it cannot be read.
mpris_get() {
    mpris_call "$1" org.freedesktop.DBus.Properties.Get "$MPRIS_PLAYER" "$2" |
        sed -n 's/^(<\(.*\)>,)$/\1/p'
}

# mpris_set DEST PROPERTY VALUE: sets a player property (VALUE in GVariant text).
mpris_set() {
    mpris_call "$1" org.freedesktop.DBus.Properties.Set "$MPRIS_PLAYER" "$2" "<$3>" >/dev/null
}

# The player to address: the first one playing, otherwise the first one.
mpris_choose() {
    mpris_first=
    for mpris_name in $(mpris_players); do
        [ -n "$mpris_first" ] || mpris_first=$mpris_name
        if [ "$(mpris_get "$mpris_name" PlaybackStatus)" = "'Playing'" ]; then
            echo "$mpris_name"
            return
        fi
    done
    echo "$mpris_first"
}

# mpris_method METHOD [ARG...]: calls a method of the chosen player and exits.
mpris_method() {
    mpris_target=$(mpris_choose)
    if [ -n "$mpris_target" ]; then
        mpris_call "$mpris_target" "$MPRIS_PLAYER.$1" ${2+"$2"} >/dev/null
    fi
    exit 0
}

# mpris_cycle PROPERTY FROM TO [FROM TO...] OTHERWISE: sets the chosen
# player's property to the TO after its current value's FROM, or to
# OTHERWISE for any other value, and exits. An unreadable property is left.
mpris_cycle() {
    mpris_target=$(mpris_choose)
    [ -n "$mpris_target" ] || exit 0
    mpris_property=$1
    shift
    mpris_current=$(mpris_get "$mpris_target" "$mpris_property")
    [ -n "$mpris_current" ] || exit 0
    while [ $# -gt 1 ]; do
        if [ "$mpris_current" = "$1" ]; then
            mpris_set "$mpris_target" "$mpris_property" "$2"
            exit 0
        fi
        shift 2
    done
    mpris_set "$mpris_target" "$mpris_property" "$1"
    exit 0
}
