#include "cli/BusOptions.h"

#include "Version.h"
#include "cli/BusFeatures.h"
#include "cli/UsageWords.h"

#include <string_view>
#include <utility>

// Laid out for help2man: the usage lines, a paragraph of description, then sections whose
// headings end in a colon, options indented with their text in a column. Lines between "@if
// FEATURE" and "@end" are this build's only when it has that feature (cli/BusFeatures.h).
std::string BusUsage() {
    std::string text = R"(Usage: qd7-bus [OPTION]... scan [ADDRS | --from AA --to BB]
  or:  qd7-bus [OPTION]... read ADDRS [REGS]...
  or:  qd7-bus [OPTION]... watch ADDRS... [--interval MS] [--count N]
  or:  qd7-bus [OPTION]... send BODY
  or:  qd7-bus [OPTION]... write ADDRS REG VALUE [REG VALUE]...
  or:  qd7-bus [OPTION]... backup ADDR [-o FILE]
  or:  qd7-bus [OPTION]... restore FILE --to ADDR
  or:  qd7-bus [OPTION]... ports
Talk to QD7 pulse meters on an RS485 bus from the command line: find the meters,
read their registers, log their process values, send a frame typed by hand, set
meters up and copy one meter's setup to another. Each request waits for its
reply only as long as the line needs, so a whole bus is scanned in seconds.

Commands:
  scan [ADDRS]      ask every address from --from to --to (or those listed)
                    for its process value P0 and list those that answer, in
                    the order asked; an address where not one byte has come
                    30 ms after the request's end is left for the next, and a
                    meter that answers later, within its reply window, is
                    listed all the same (--timeout gives every address the
                    time named)
  read ADDRS [REGS]...
                    read registers of meters: the codes given, else all
                    eleven (P0 C0 C1 C2 C3 K0 K1 X0 X1 Y0 Y1)
  watch ADDRS...    read P0 of each address again and again, one line per
                    reading, until Ctrl+C or --count rounds; a device that goes
                    away is opened again each round until it is back
  send BODY         send a 15-character frame body such as 07RX0P0+0000000
                    between STX and ETX with its CRC-8; show the reply in
                    hexadecimal and decoded (printable ASCII only)
  write ADDRS REG VALUE [REG VALUE]...
                    write values into registers of meters (C0 C1 C2 C3 K0 K1
                    X0 X1 Y0 Y1, in the --bank given) and read each back: the
                    row says written, or not-taken with the value the meter
                    holds; ADDRS names the meters one by one, e.g. 07,12
  backup ADDR       read the ten settings registers of both banks of a meter
                    into a json document, on the output or in the -o file;
                    nothing is written unless all twenty were read
  restore FILE --to ADDR
                    write a backup to a meter, the same or another: its
                    registers are read first, those that differ are written and
                    read back, and each row says what the register held before
  ports             list the serial ports: COMn as --port COMn and the window
                    program map them, the device, and for a USB adapter its
                    ids, maker, product and serial number; opens none of them

  ADDRS is a list of addresses and ranges, e.g. 01,07,10:19 (write takes no
  ranges); REGS likewise of registers, e.g. P0,C0:C3 (a range in the order
  above).

Options:
      --port PATH|COMn|tcp://HOST:PORT|rfc2217://HOST:PORT
                    the serial device, or COMn mapped as the window program
                    maps it ($QD7_COMn when set), or a serial device server's
                    port on the network: raw TCP (the server sets the line)
                    or RFC 2217 (the line is set from here); default COM1
                    (see ports)
      --speed N     line speed in bit/s (default 9600)
      --data 7|8    data bits (default 8)
      --parity none|odd|even
                    parity (default none)
      --stop 1|2    stop bits (default 1)
      --bank 0|1    register bank asked for or written (default 0)
      --timeout MS  wait at most MS milliseconds from the start of a request
                    for the whole reply (default: the request's and the reply's
                    time on the line plus 100 ms for the reply to start and
                    16 ms of a USB adapter's latency, 173 ms at 9600 baud 8N1,
                    plus the RTS delays; on a network port plus two
                    characters' time and 5 ms, 181 ms at 9600 baud 8N1)
      --reply-window MS
                    a meter's reply may come until MS milliseconds after its
                    request (default 700, as the window program reads it; at
                    least the timeout): the meter is not asked again before,
                    unless its reply has come
      --rts-delay-before MS
                    keep RTS up MS milliseconds (0 to 1000) before a frame's
                    first byte, for converters that switch direction slowly
                    (default 0)
@if driver-rs485
                    where the kernel drives RTS in its RS485 mode: its own
                    delay before sending
@end
      --rts-delay-after MS
                    keep RTS up MS milliseconds (0 to 1000) after a frame's
                    last byte has left (default 0)
@if driver-rs485
                    in the kernel's RS485 mode: its delay after sending
@end
      --retries N   ask again up to N times (0 to 10, default 0) when a
                    request gets no reply or a corrupt one, once that reply
                    can no longer come; the row says how many requests it took
                    (tries); scan, read and watch
      --format text|csv|json
                    text: aligned lines for people; csv: a header row, then a
                    row per reading; json: one object per line
  -q                rows only for the readings that are not ok
  -qq               no rows at all: the exit status alone
      --stats       statistics per meter on stderr at the end (watch always
                    gives them): requests, ok, silent, corrupt, rejected,
                    nodevice, loss in per cent, reply time min/median/max
  -v, --trace       every request and reply on stderr, in hexadecimal and as
                    text, with the time in ms since the start and the
                    request's time on the line
      --dry-run     write: show the frames that would be sent, send nothing
                    and open no port; restore: read the meter and show the
                    registers that differ from the backup, write nothing
  -h, --help        show this help and exit
      --version     show the version and exit

@if publish
Publishing (watch):
      --publish mqtt://[USER@]HOST[:PORT]/PREFIX | mqtts://...
                    each row also to an MQTT broker (MQTT 5, or 3.1.1 when the
                    broker speaks no other), as its json row on
                    PREFIX/ADDR/REG (e.g. plant/line1/07/P0), QoS 2: the broker
                    takes each reading once; retained when it has a value.
                    PREFIX/ADDR/status follows the meter's status and
                    PREFIX/status is online while qd7-bus runs, offline when
                    it ends or dies (the broker's last will). A broker that is
                    away is no error: readings wait for it, in order, and the
                    connection is tried again after 1, 2, 4 ... up to 30 s.
                    At the end, one line says how many readings were sent,
                    refused by the broker, dropped from the full queue, and
                    not sent (or kept in the spool). The password comes from
                    --password-file or $QD7_MQTT_PASSWORD, never from the
                    command line
      --ca-file FILE
                    mqtts: the PEM certificates that the broker's must come
                    from (default: the system's); checked at the start
      --password-file FILE
                    the password of USER, the file's first line; the file must
                    not be readable by every user; it wins over
                    $QD7_MQTT_PASSWORD
      --queue N     readings and statuses kept until the broker has them
                    (default 10000); beyond, the oldest readings are dropped,
                    counted, and stderr says so
      --inflight N  messages handed to the broker before the first is
                    acknowledged (default 100; the broker may take fewer)
      --keepalive S
                    seconds between signs of life on a quiet connection
                    (default 30); one silent for twice as long is dead
      --spool FILE  keep the readings not yet on the broker in FILE as well, so
                    that a restart, SIGTERM or a crash loses none: the next
                    start sends them first
      --ha-discovery[=PREFIX]
                    publish Home Assistant discovery configs (under
                    homeassistant/ unless PREFIX is given): a sensor per meter
                    and register
      --unit TEXT   the readings' unit in the discovery configs, e.g. m3/h

@end
Scan options:
      --from AA     first address (default 00)
      --to BB       last address (default 99)

Backup and restore options:
  -o, --output FILE
                    backup: write the document to FILE (whole, or not at all:
                    an earlier FILE stays until the new one is complete) and
                    the rows to the output
      --to ADDR     restore: the meter to write the backup to

Watch options:
      --interval MS
                    time from the start of one round to the start of the next
                    (default 1000)
      --count N     stop after N rounds (default: until interrupted)

Output:
  csv and json give the fields time, address, bank, register, value, decimals,
  status, raw and tries. time is the start of the request in ISO 8601, UTC, with
  milliseconds; value is written with the reply's decimal places and a decimal
  point whatever the locale; raw is the reply's bytes in hexadecimal. status is
  ok, silent (no reply), corrupt (a reply cut short or with a wrong CRC),
  rejected (a frame with a good CRC that is not the reply asked for) or
  nodevice (the port's device has gone away, e.g. an adapter unplugged).
  tries is the number of requests the reading took (more than 1 with
  --retries; 0 for nodevice, when nothing could be asked). text rows give
  address, bank, register, value and status.

  The rows of write and restore are those of the read-back: status written
  when the register holds the value asked for, not-taken when it holds another
  (value is then what it holds), or silent, corrupt, rejected, nodevice as for
  read; a restore's register that held the backup's value already is ok and is
  not written. csv and json add wanted (the value asked for) and before (what
  the register held before, when restore read it).

  A reply is found by its ACK STX start, after noise or an echo of the request,
  and must carry the address, bank and register asked for. scan lists the
  addresses where something answered. csv writes its header row unless the
  output is a file that already holds data, so that a log can be appended to.
  Every line is flushed as it is written. A command ends after the line in
  hand, and the port is closed, on @STOP@.

  On a terminal, scan shows on stderr which address it is at and what it has
  found, on one line; never into a file or a pipe.

Writing registers:
  A value is sent as the meters take it: a sign, six digits and the number of
  decimal places, so 123.4 goes as +0012341; the places typed are kept (123.40
  is sent with two, and a meter shows two). A value those cannot carry exactly,
  such as 1.2345678 or 1000000, is refused naming the nearest that can be
  written. P0, the process value, is measured by the meter and never written.
  Each register is read back after its write, and the read-back alone decides:
  what a meter answers to the write itself (qd7-sim echoes the value with WD,
  taken or not) is shown by -v and trusted for nothing, and the read-back goes
  out only once that answer has come or can no longer come (the reply window),
  so a late answer is never taken for the read-back. --retries asks the
  read-back again; the write goes out once. A backup is json: "format",
  "version" (1), "address", "time", "port" and "registers", each with "bank",
  "register", "value", "decimals" and "raw"; restore checks a file against
  this before anything is sent, so a damaged or edited-wrong file sends no
  frame.

Late replies and lost devices:
  A reply belongs to its request. A meter is never asked again while its reply
  to the last request may still come: after a request that got no reply (or a
  corrupt one), the next request to that meter waits until the reply has come
  or the reply window has passed (requests to other meters go at once: a reply
  names its meter). A reply that comes after its timeout is never a value for
  another request; it is said on stderr with its delay from its own request
  and a timeout that waits for it, e.g. "07 answered 321 ms after its request;
  --timeout 350 waits for it", once per meter (again only if it gets slower).
  In read, watch, write and restore its row stays silent; in scan it lists its
  meter. A reply
  later than the reply window is outside the protocol: it may be taken for
  the next request's; set --timeout (or --reply-window) for such a meter.

  When the device goes away, stderr says so once; scan, read, send, write,
  backup and restore end with exit status 3. watch logs its rows as nodevice,
  opens the same device again each round (at least 100 ms apart) and says so
  once it is back.

Exit status:
  0  every meter addressed answered (scan: at least one meter answered;
     write and restore: every register holds the value written)
  1  some meter was silent, or its reply corrupt or rejected, or a register
     did not take its value (watch: also rows logged as nodevice while the
     device was away; backup: not every register was read, and no backup was
     written)
  2  usage error (restore: the backup file cannot be read or is not a valid
     backup)
  3  the port cannot be opened, or its device went away (watch: it was still
     away at the end)
  4  the output, or backup's -o file, cannot be written (a full disk, an I/O
     error, a closed standard output); a reader that went away, such as
     head, ends qd7-bus quietly instead
@if publish
  5  --publish: readings were refused by the broker, dropped from the full
     queue, or not sent by the end (those kept in a --spool do not count), or
     the broker refused the login or TLS failed (at the start this ends the
     watch at once; later the watch goes on, and this is its exit code); 5
     takes the place of 0, 1 and 130
@end
  130  interrupted by @STOP@ before the command was done

Examples:
  qd7-bus ports     which serial ports there are, and which adapter is COMn
  qd7-bus --port @PORT@ scan
                    find the meters behind a USB adapter
  qd7-bus -v read 07 P0
                    the process value of meter 07, with both frames shown
  qd7-bus --retries 2 read 01,07,10:12 P0,C0
                    two registers of five meters, each asked up to 3 times
  qd7-bus --port COM2 --speed 19200 --bank 1 read 07
                    all eleven registers of meter 07 in bank 1
  qd7-bus --format csv watch 07 >> log.csv
                    log the process value of meter 07 every second
  qd7-bus send 07RX1C1+0000000
                    send a frame typed by hand and show the reply
  qd7-bus write 07 C1 123.4
                    set comparison value H of meter 07 and check it took it
  qd7-bus backup 07 -o meter07.json && qd7-bus restore meter07.json --to 12
                    give meter 12, the replacement, the setup of meter 07
)";
    text = SelectBusFeatureBlocks(text);
    // The words of this system: how a run is stopped, how a device is named.
    for (const auto& [key, value] :
         {std::pair<std::string_view, std::string_view>{"@STOP@", kUsageStop},
          {"@PORT@", kUsagePortExample}}) {
        for (size_t at; (at = text.find(key)) != std::string::npos;) {
            text.replace(at, key.size(), value);
        }
    }
    return text;
}

std::string BusVersion() {
    return std::string("qd7-bus (qd7test) ") + kQd7Version + "\n";
}
