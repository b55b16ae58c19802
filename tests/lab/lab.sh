#!/bin/bash
# A private IPv4 /24 inside network namespaces, for tests that need a real
# network. Nothing here touches the machine's own namespace: every address,
# route and process lives in a namespace whose name starts with PREFIX.
#
#   lab.sh check                          can namespaces be made here? (exit 0 = yes)
#   lab.sh up PREFIX SUBNET CLIENT        bridge + client at SUBNET.CLIENT/24 (idempotent)
#   lab.sh add-host PREFIX NAME [--echo answer|drop] HOST...
#                                         a host namespace carrying the given addresses
#                                         (a HOST is a last octet or a whole address);
#                                         echo requests answered or dropped (nftables)
#   lab.sh spawn PREFIX NAME TAG -- CMD...  start CMD in NAME's namespace, log in the state dir
#   lab.sh stop PREFIX TAG                end a spawned process
#   lab.sh ping-group PREFIX "MIN MAX"    net.ipv4.ping_group_range of the client
#   lab.sh echo-count PREFIX              ICMP echo requests the client has sent
#   lab.sh ip PREFIX NAME ARGS...         ip -n <NAME's namespace> ARGS
#   lab.sh ns PREFIX NAME                 the namespace of NAME ("client", "bridge" or a host)
#   lab.sh down PREFIX                    remove every namespace and process of PREFIX
#   lab.sh gc                             down every lab named vp-<pid>-... whose pid is gone
#
# PREFIX must be unique per lab (tests use vp-<pid>-<n>) so that concurrent
# tests never share a namespace. The client has no default route, only a host
# route for 255.255.255.255 on the lab link, so broadcasts stay in the lab.

set -u
export LC_ALL=C

STATE_ROOT=${VORPANE_LAB_STATE:-/run/vorpane-lab}
TABLE=vorpane_lab

die() {
    echo "lab.sh: $*" >&2
    exit 1
}

run() {
    "$@" || die "failed: $*"
}

check_prefix() {
    [[ $1 =~ ^[A-Za-z0-9][A-Za-z0-9-]{0,40}$ ]] || die "bad prefix '$1'"
}

check_name() {
    [[ $1 =~ ^[a-z0-9]{1,12}$ ]] || die "bad host name '$1' (a-z, 0-9, at most 12)"
    [[ $1 != client && $1 != bridge ]] || die "host name '$1' is reserved"
}

state_dir() { echo "$STATE_ROOT/$1"; }

ns_of() {
    case $2 in
        client) echo "$1-cl" ;;
        bridge) echo "$1-br" ;;
        *) echo "$1-h-$2" ;;
    esac
}

ns_exists() { [[ -e /run/netns/$1 ]]; }

subnet_of() {
    local file
    file="$(state_dir "$1")/subnet"
    [[ -r $file ]] || die "lab $1 is not up"
    cat "$file"
}

# Sets ADDRESS from HOST (a last octet within SUBNET, or a whole address);
# no subshell, so that many addresses stay cheap.
to_address() { # SUBNET HOST
    if [[ $2 =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]]; then
        ADDRESS=$2
    elif [[ $2 =~ ^[0-9]{1,3}$ && $2 -ge 1 && $2 -le 254 ]]; then
        ADDRESS=$1.$2
    else
        die "bad host '$2'"
    fi
}

# A namespace with loopback up and IPv6 off, so the lab carries no traffic
# that a test did not cause.
ensure_ns() {
    local ns=$1
    if ! ns_exists "$ns"; then
        run ip netns add "$ns"
    fi
    run ip netns exec "$ns" sh -c '
        for f in /proc/sys/net/ipv6/conf/all/disable_ipv6 /proc/sys/net/ipv6/conf/default/disable_ipv6; do
            [ -w "$f" ] && echo 1 > "$f"
        done
        exit 0'
    run ip -n "$ns" link set lo up
}

# Links namespace NS to the bridge through a veth pair: PORT on the bridge
# side, eth0 inside NS.
ensure_link() {
    local prefix=$1 ns=$2 port=$3 br
    br=$(ns_of "$prefix" bridge)
    if ! ip -n "$ns" link show dev eth0 >/dev/null 2>&1; then
        ip -n "$br" link del "$port" >/dev/null 2>&1
        run ip -n "$br" link add "$port" type veth peer name eth0 netns "$ns"
    fi
    run ip -n "$br" link set "$port" master br0 up
    run ip -n "$ns" link set eth0 up
}

set_echo_mode() { # PREFIX NAME MODE
    local prefix=$1 name=$2 mode=$3 ns rule=""
    ns=$(ns_of "$prefix" "$name")
    case $mode in
        answer) ;;
        drop) rule="icmp type echo-request drop" ;;
        *) die "bad echo mode '$mode'" ;;
    esac
    ip netns exec "$ns" nft delete table ip "$TABLE" >/dev/null 2>&1
    [[ -z $rule ]] && return 0
    run ip netns exec "$ns" nft -f - <<EOF
table ip $TABLE {
    chain input {
        type filter hook input priority 0; policy accept;
        $rule
    }
}
EOF
}

cmd_check() {
    [[ $EUID -eq 0 ]] || die "needs root to make network namespaces"
    command -v ip >/dev/null || die "needs the ip command (iproute2)"
    command -v nft >/dev/null || die "needs the nft command (nftables)"
    local ns="vp-check-$$"
    ip netns add "$ns" 2>/dev/null || die "cannot make a network namespace here"
    ip netns del "$ns"
}

cmd_up() {
    local prefix=$1 subnet=$2 client=$3 dir br cl
    check_prefix "$prefix"
    [[ $subnet =~ ^[0-9]{1,3}\.[0-9]{1,3}\.[0-9]{1,3}$ ]] || die "bad subnet '$subnet' (three octets)"
    [[ $client =~ ^[0-9]+$ && $client -ge 1 && $client -le 254 ]] || die "bad client host '$client'"
    dir=$(state_dir "$prefix")
    run mkdir -p "$dir"
    if [[ -r $dir/subnet && $(cat "$dir/subnet") != "$subnet" ]]; then
        die "lab $prefix is up with subnet $(cat "$dir/subnet")"
    fi
    echo "$subnet" >"$dir/subnet"
    br=$(ns_of "$prefix" bridge)
    cl=$(ns_of "$prefix" client)

    ensure_ns "$br"
    if ! ip -n "$br" link show dev br0 >/dev/null 2>&1; then
        run ip -n "$br" link add br0 type bridge
    fi
    run ip -n "$br" link set br0 up

    ensure_ns "$cl"
    ensure_link "$prefix" "$cl" vcl
    run ip -n "$cl" addr replace "$subnet.$client/24" dev eth0
    run ip -n "$cl" route replace 255.255.255.255/32 dev eth0
    # Counts the echo requests the client sends, so a test can tell that
    # nothing went out.
    if ! ip netns exec "$cl" nft list table ip "$TABLE" >/dev/null 2>&1; then
        run ip netns exec "$cl" nft -f - <<EOF
table ip $TABLE {
    counter echo_out { }
    chain output {
        type filter hook output priority 0; policy accept;
        icmp type echo-request counter name echo_out
    }
}
EOF
    fi
}

cmd_add_host() {
    local prefix=$1 name=$2 mode=answer ns
    shift 2
    check_prefix "$prefix"
    check_name "$name"
    if [[ ${1:-} == --echo ]]; then
        mode=${2:-}
        shift 2
    fi
    [[ $# -ge 1 ]] || die "add-host needs at least one address"
    ns=$(ns_of "$prefix" "$name")
    ensure_ns "$ns"
    ensure_link "$prefix" "$ns" "v$name"
    # One batch for any number of addresses keeps a 30-address host fast.
    local batch="" host subnet
    subnet=$(subnet_of "$prefix")
    for host in "$@"; do
        to_address "$subnet" "$host"
        batch+="addr replace $ADDRESS/24 dev eth0"$'\n'
    done
    run ip -n "$ns" -batch - <<<"$batch"
    set_echo_mode "$prefix" "$name" "$mode"
}

# A process started in a namespace keeps its pid in the state dir, where
# stop and down find it.
cmd_spawn() {
    local prefix=$1 name=$2 tag=$3 dir ns
    shift 3
    [[ ${1:-} == -- ]] && shift
    [[ $# -ge 1 ]] || die "spawn needs a command"
    [[ $tag =~ ^[A-Za-z0-9_.-]+$ ]] || die "bad tag '$tag'"
    dir=$(state_dir "$prefix")
    [[ -d $dir ]] || die "lab $prefix is not up"
    ns=$(ns_of "$prefix" "$name")
    ns_exists "$ns" || die "no namespace $ns"
    ip netns exec "$ns" "$@" >"$dir/$tag.log" 2>&1 </dev/null &
    echo $! >"$dir/$tag.pid"
    echo $!
}

alive() { # PID: running and not a zombie
    local state
    state=$(awk '{print $3}' "/proc/$1/stat" 2>/dev/null) || return 1
    [[ -n $state && $state != Z && $state != X ]]
}

end_pid() {
    local pid=$1 i
    alive "$pid" || return 0
    kill -TERM "$pid" 2>/dev/null
    for i in $(seq 1 50); do
        alive "$pid" || return 0
        sleep 0.05
    done
    kill -KILL "$pid" 2>/dev/null
}

cmd_stop() {
    local prefix=$1 tag=$2 file
    file="$(state_dir "$prefix")/$tag.pid"
    [[ -r $file ]] || return 0
    end_pid "$(cat "$file")"
    rm -f "$file"
}

wait_for_log() { # FILE TEXT SECONDS
    local i
    for i in $(seq 1 $(($3 * 20))); do
        grep -q "$2" "$1" 2>/dev/null && return 0
        sleep 0.05
    done
    return 1
}

cmd_ping_group() {
    local cl
    cl=$(ns_of "$1" client)
    ns_exists "$cl" || die "lab $1 is not up"
    run ip netns exec "$cl" sh -c "echo '$2' > /proc/sys/net/ipv4/ping_group_range"
}

cmd_echo_count() {
    local cl out
    cl=$(ns_of "$1" client)
    out=$(ip netns exec "$cl" nft list counter ip "$TABLE" echo_out) || die "no counter in $cl"
    sed -n 's/.*packets \([0-9]*\).*/\1/p' <<<"$out" | head -n 1
}

cmd_down() {
    local prefix=$1 dir file ns pid
    check_prefix "$prefix"
    dir=$(state_dir "$prefix")
    if [[ -d $dir ]]; then
        for file in "$dir"/*.pid; do
            [[ -r $file ]] && end_pid "$(cat "$file")"
        done
    fi
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        [[ $ns == "$prefix"-* ]] || continue
        # Whatever still runs inside (spawned by a test directly, or left by
        # a crash) goes with its namespace.
        for pid in $(ip netns pids "$ns" 2>/dev/null); do
            kill -KILL "$pid" 2>/dev/null
        done
        ip netns del "$ns" 2>/dev/null || echo "lab.sh: could not remove $ns" >&2
    done
    rm -rf "$dir"
}

cmd_gc() {
    local ns prefix pid
    for ns in $(ip netns list 2>/dev/null | awk '{print $1}'); do
        [[ $ns =~ ^(vp-([0-9]+)-[0-9]+)-(br|cl|h-.*)$ ]] || continue
        prefix=${BASH_REMATCH[1]}
        pid=${BASH_REMATCH[2]}
        [[ -d /proc/$pid ]] && continue
        cmd_down "$prefix"
    done
}

command=${1:-}
[[ $# -gt 0 ]] && shift
case $command in
    check) cmd_check ;;
    up) [[ $# -eq 3 ]] || die "usage: up PREFIX SUBNET CLIENT"; cmd_up "$@" ;;
    add-host) [[ $# -ge 3 ]] || die "usage: add-host PREFIX NAME [--echo MODE] HOST..."; cmd_add_host "$@" ;;
    spawn) [[ $# -ge 4 ]] || die "usage: spawn PREFIX NAME TAG -- CMD..."; cmd_spawn "$@" ;;
    stop) [[ $# -eq 2 ]] || die "usage: stop PREFIX TAG"; cmd_stop "$@" ;;
    ping-group) [[ $# -eq 2 ]] || die "usage: ping-group PREFIX 'MIN MAX'"; cmd_ping_group "$@" ;;
    echo-count) [[ $# -eq 1 ]] || die "usage: echo-count PREFIX"; cmd_echo_count "$@" ;;
    ip) [[ $# -ge 3 ]] || die "usage: ip PREFIX NAME ARGS..."; p=$1 n=$2; shift 2; ip -n "$(ns_of "$p" "$n")" "$@" ;;
    ns) [[ $# -eq 2 ]] || die "usage: ns PREFIX NAME"; ns_of "$@" ;;
    down) [[ $# -eq 1 ]] || die "usage: down PREFIX"; cmd_down "$@" ;;
    gc) cmd_gc ;;
    *) die "unknown command '${command}' (see the head of this script)" ;;
esac
