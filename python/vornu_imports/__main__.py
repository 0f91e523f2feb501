from vornu_imports.cli import main

raise SystemExit(main())
