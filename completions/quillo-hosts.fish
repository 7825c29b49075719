# fish completion for quillo-term and quillo-panel, the panels quillo starts.
for program in quillo-term quillo-panel
    complete -c $program -f
    complete -c $program -l procfs -x -a '(__fish_complete_directories)' -d 'procfs root to read'
    complete -c $program -l sysfs -x -a '(__fish_complete_directories)' -d 'sysfs root to read'
    complete -c $program -l cgroup -x -a 'auto host' -d 'the limits CPU and memory are measured against'
    complete -c $program -l terminal -d 'run the terminal panel'
    complete -c $program -s h -l help -d 'print the help and exit'
    complete -c $program -s V -l version -d 'print the version and exit'
end
complete -c quillo-term -l frames -x -d 'stop after N refreshes'
complete -c quillo-panel -l desktop -d 'run the desktop panel'
complete -c quillo-panel -l snapshot -d 'run the panel headlessly and print every outlet'
complete -c quillo-panel -l ticks -x -d 'refreshes before the snapshot'
complete -c quillo-panel -l interval -x -d 'seconds between the refreshes'
complete -c quillo-panel -l scale -x -d 'pixel ratio of the PNG'
complete -c quillo-panel -l json -d 'print the snapshot as JSON'
complete -c quillo-panel -l png -r -F -d 'render the snapshot to a PNG file'
