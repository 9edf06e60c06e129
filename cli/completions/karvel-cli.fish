# fish completion for karvel-cli.

set -l subcommands encode decode verify
complete -c karvel-cli -n "not __fish_seen_subcommand_from $subcommands" -f
complete -c karvel-cli -n "not __fish_seen_subcommand_from $subcommands" -a encode -d "Encode each FILE under the passphrase"
complete -c karvel-cli -n "not __fish_seen_subcommand_from $subcommands" -a decode -d "Decode each FILE under the passphrase"
complete -c karvel-cli -n "not __fish_seen_subcommand_from $subcommands" -a verify -d "Check each FILE under the passphrase"
complete -c karvel-cli -s o -l output -r -F -d "Write the result to OUTPUT, one FILE only"
complete -c karvel-cli -l force -d "Replace an OUTPUT that exists"
complete -c karvel-cli -l passphrase-file -r -F -d "Passphrase: the first line of FILE"
complete -c karvel-cli -l passphrase-fd -x -d "Passphrase: the first line of descriptor N"
complete -c karvel-cli -l code-page -x -a "874 932 936 949 950 1250 1251 1252 1253 1254 1255 1256 1257 1258 65001" -d "Windows ANSI code page of the passphrase bytes"
complete -c karvel-cli -s h -l help -d "Print the usage and the exit codes"
complete -c karvel-cli -l version -d "Print the version"
