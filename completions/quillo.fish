# fish completion for quillo: commands, options, settings keys and their choices.
set -l commands sample snapshot processes top metrics serve record history settings autostart help
set -l keys RefreshRate NormalColorKey WarningColorKey CriticalColorKey AlertBatteryBelow AlertMemoryAbove AlertDiskAbove Rows FileSystems Interfaces Cgroup Palette Opacity Scale Layout

complete -c quillo -f
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -l desktop -d 'run the desktop panel'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -l terminal -d 'run the terminal panel'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -l frames -x -d 'stop after N refreshes'
complete -c quillo -l procfs -x -a '(__fish_complete_directories)' -d 'procfs root to read'
complete -c quillo -l sysfs -x -a '(__fish_complete_directories)' -d 'sysfs root to read'
complete -c quillo -l cgroup -x -a 'auto host' -d 'the limits CPU and memory are measured against'
complete -c quillo -s h -l help -d 'print the help and exit'
complete -c quillo -s V -l version -d 'print the version and exit'

complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a sample -d 'run every library reader once'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a snapshot -d 'run the panel headlessly'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a processes -d 'list the running processes'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a top -d 'list the busiest processes'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a metrics -d 'print every figure for Prometheus'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a serve -d 'serve every figure to Prometheus'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a record -d 'record the figures into the history'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a history -d 'print the recorded figures'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a settings -d 'read or change the settings'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a autostart -d 'start at login, or not'
complete -c quillo -n "not __fish_seen_subcommand_from $commands" -a help -d 'print the help of a command'

complete -c quillo -n "__fish_seen_subcommand_from top" -l by -x -a 'cpu memory' -d 'what busiest means'
complete -c quillo -n "__fish_seen_subcommand_from top" -s n -x -d 'how many to list'
complete -c quillo -n "__fish_seen_subcommand_from top" -l by-unit -d 'group the processes by cgroup'
complete -c quillo -n "__fish_seen_subcommand_from sample metrics top" -l interval -x -d 'seconds over which the CPU is sampled'
complete -c quillo -n "__fish_seen_subcommand_from serve" -l listen -x -d 'ADDRESS:PORT to listen on'
complete -c quillo -n "__fish_seen_subcommand_from record" -l interval -x -d 'seconds between points'
complete -c quillo -n "__fish_seen_subcommand_from history" -l since -x -d 'start: a duration before now or a time'
complete -c quillo -n "__fish_seen_subcommand_from history" -l until -x -d 'end: a time'
complete -c quillo -n "__fish_seen_subcommand_from history" -l csv -d 'print CSV'
complete -c quillo -n "__fish_seen_subcommand_from history" -a 'processes cpu memory swap disk download upload load1 load5 load15 battery diskread diskwrite pressurecpu pressurememory pressureio temperature'
complete -c quillo -n "__fish_seen_subcommand_from sample snapshot processes top history" -l json -d 'print JSON'
complete -c quillo -n "__fish_seen_subcommand_from snapshot" -l ticks -x -d 'refreshes to run'
complete -c quillo -n "__fish_seen_subcommand_from snapshot" -l interval -x -d 'seconds between refreshes'
complete -c quillo -n "__fish_seen_subcommand_from snapshot" -l png -r -F -d 'render the panel to a PNG'
complete -c quillo -n "__fish_seen_subcommand_from snapshot" -l scale -x -d 'pixel ratio of the PNG'
complete -c quillo -n "__fish_seen_subcommand_from autostart" -a 'enable disable status'
complete -c quillo -n "__fish_seen_subcommand_from help" -a "$commands"

complete -c quillo -n "__fish_seen_subcommand_from settings; and not __fish_seen_subcommand_from path list get set unset" -a 'path list get set unset'
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from get set unset; and not __fish_seen_subcommand_from $keys" -a "$keys"
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from set; and __fish_seen_subcommand_from RefreshRate" -a 'fast normal slow verySlow'
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from set; and __fish_seen_subcommand_from Palette" -a 'default colorblind'
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from set; and __fish_seen_subcommand_from Layout" -a 'vertical horizontal'
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from set; and __fish_seen_subcommand_from Scale" -a '0.75 1 1.25 1.5 2'
complete -c quillo -n "__fish_seen_subcommand_from settings; and __fish_seen_subcommand_from set; and __fish_seen_subcommand_from Opacity" -a '0.6 0.8 0.9 1'
