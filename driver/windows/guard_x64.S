/*
 * Processor instructions that may fault, with a way back: rdmsr of a register
 * the processor does not implement, and in/out in a host that runs the driver
 * outside ring 0. Each function's unwind data names zk_guard_handler and
 * carries (fault start, fault end, resume) as image-relative addresses; the
 * handler resumes there with r11 = 0, and the function returns r11.
 *
 *   int zk_guarded_rdmsr(uint32_t index, uint64_t* value)
 *   int zk_guarded_in(uint32_t port, uint32_t width, uint32_t* value)
 *   int zk_guarded_out(uint32_t port, uint32_t width, uint32_t value)
 */
        .text

        .p2align 4
        .globl  zk_guarded_rdmsr
        .def    zk_guarded_rdmsr; .scl 2; .type 32; .endef
        .seh_proc zk_guarded_rdmsr
zk_guarded_rdmsr:
        .seh_handler zk_guard_handler, @except
        .seh_handlerdata
        .rva    .Lmsr_fault, .Lmsr_resume, .Lmsr_resume
        .text
        .seh_endprologue
        mov     $1, %r11d
        mov     %rdx, %r10
.Lmsr_fault:
        rdmsr
.Lmsr_resume:
        test    %r11d, %r11d
        jz      1f
        mov     %eax, (%r10)
        mov     %edx, 4(%r10)
1:      mov     %r11d, %eax
        ret
        .seh_endproc

        .p2align 4
        .globl  zk_guarded_in
        .def    zk_guarded_in; .scl 2; .type 32; .endef
        .seh_proc zk_guarded_in
zk_guarded_in:
        .seh_handler zk_guard_handler, @except
        .seh_handlerdata
        .rva    .Lin_fault, .Lin_fault_end, .Lin_resume
        .text
        .seh_endprologue
        mov     $1, %r11d
        mov     %r8, %r10
        mov     %edx, %r9d
        mov     %ecx, %edx
        xor     %eax, %eax
        cmp     $1, %r9d
        je      .Lin_fault
        cmp     $2, %r9d
        je      .Lin_word
        jmp     .Lin_dword
.Lin_fault:
        inb     %dx, %al
        jmp     .Lin_resume
.Lin_word:
        inw     %dx, %ax
        jmp     .Lin_resume
.Lin_dword:
        inl     %dx, %eax
.Lin_fault_end:
.Lin_resume:
        test    %r11d, %r11d
        jz      1f
        mov     %eax, (%r10)
1:      mov     %r11d, %eax
        ret
        .seh_endproc

        .p2align 4
        .globl  zk_guarded_out
        .def    zk_guarded_out; .scl 2; .type 32; .endef
        .seh_proc zk_guarded_out
zk_guarded_out:
        .seh_handler zk_guard_handler, @except
        .seh_handlerdata
        .rva    .Lout_fault, .Lout_fault_end, .Lout_resume
        .text
        .seh_endprologue
        mov     $1, %r11d
        mov     %edx, %r9d
        mov     %ecx, %edx
        mov     %r8d, %eax
        cmp     $1, %r9d
        je      .Lout_fault
        cmp     $2, %r9d
        je      .Lout_word
        jmp     .Lout_dword
.Lout_fault:
        outb    %al, %dx
        jmp     .Lout_resume
.Lout_word:
        outw    %ax, %dx
        jmp     .Lout_resume
.Lout_dword:
        outl    %eax, %dx
.Lout_fault_end:
.Lout_resume:
        mov     %r11d, %eax
        ret
        .seh_endproc
