# fish completion for velmo-pristel
function __velmo_pristel_command
    set -l words (commandline -opc)
    for word in $words[2..-1]
        switch $word
            case clean compress history put-back undo
                echo $word
                return 0
            case --
                return 1
        end
    end
    return 1
end

function __velmo_pristel_no_command
    not __velmo_pristel_command >/dev/null
end

function __velmo_pristel_in
    set -l command (__velmo_pristel_command)
    test "$command" = $argv[1]
end

complete -c velmo-pristel -f
# The report and the window
complete -c velmo-pristel -n __velmo_pristel_no_command -a 'clean compress history put-back undo' -d 'Command'
complete -c velmo-pristel -n __velmo_pristel_no_command -a '(__fish_complete_directories)'
complete -c velmo-pristel -n __velmo_pristel_no_command -l similar -d 'Other versions of one photo'
complete -c velmo-pristel -n __velmo_pristel_no_command -l series -d 'Bursts: shots seconds apart'
complete -c velmo-pristel -n __velmo_pristel_no_command -l exact -d 'Byte-identical copies'
complete -c velmo-pristel -n __velmo_pristel_no_command -l json -d 'Print one JSON document'
complete -c velmo-pristel -n __velmo_pristel_no_command -l skipped -d 'List what the scan left out'
complete -c velmo-pristel -n __velmo_pristel_no_command -l no-cache -d 'Read every file again instead of using the scan cache'
complete -c velmo-pristel -n __velmo_pristel_no_command -l version -d 'Show the version'
complete -c velmo-pristel -l help -s h -d 'Show the help'
complete -c velmo-pristel -n '__fish_prev_arg_in --similar' -a 'conservative balanced broad' -d 'Preset'
# clean
complete -c velmo-pristel -n '__velmo_pristel_in clean' -a '(__fish_complete_directories)'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l lightroom -r -F -d 'Mark the copies Rejected in a Lightroom Classic catalog'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l capture-one -x -a '(__fish_complete_directories)' -d 'Tag the copies Red in a Capture One catalog'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l mode -x -a 'exact similar series' -d 'Which groups'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l preset -x -a 'conservative balanced broad' -d 'How far look-alikes reach'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l protect -x -a '(__fish_complete_directories)' -d 'Nothing in this folder is moved'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l priorities -x -a 'mostPixels largestFile filedNotInbox oldest newest shallowest sharpest bestQuality eyesOpen mostSmiles' -d 'Which copy to keep'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l interactive -d 'Choose group by group'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l yes -d 'Move without asking'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l dry-run -d 'Stop after the plan'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l json -d 'Print one JSON document'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l skipped -d 'List what the scan left out'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l no-cache -d 'Read every file again instead of using the scan cache'
complete -c velmo-pristel -n '__velmo_pristel_in clean' -l library -d 'Scan a Shotwell library and tag its copies for review'
# history and put-back
# compress
complete -c velmo-pristel -n '__velmo_pristel_in compress' -a '(__fish_complete_directories)'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l library -d 'Shrink the videos and Live Photos of a Shotwell library'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l videos -d 'Only the videos, to HEVC at most 1080p'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l live-photos -d 'Only the Live Photos, to their stills'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l images -d 'Only the JPEG and TIFF photos, to HEIC'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l yes -d 'Compress without asking'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l dry-run -d 'Stop after the plan'
complete -c velmo-pristel -n '__velmo_pristel_in compress' -l json -d 'Print one JSON document'
complete -c velmo-pristel -n '__velmo_pristel_in history' -l json -d 'Print one JSON document'
complete -c velmo-pristel -n '__velmo_pristel_in put-back' -F
